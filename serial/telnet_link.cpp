#include "serial/telnet_link.h"

using namespace telnet;

namespace {

bool WeWill(uint8_t option) {
  return option == kBinary || option == kSuppressGoAhead || option == kComPort;
}

bool TheyMay(uint8_t option) { return option == kBinary || option == kSuppressGoAhead; }

// The values of the control code fall into groups of one request, its
// settings and their answers: 0-3 outbound flow control, 4-6 break, 7-9 DTR,
// 10-12 RTS, 13-19 inbound flow control.
int ControlGroup(uint32_t value) {
  if (value <= 3) return 0;
  if (value <= 6) return 1;
  if (value <= 9) return 2;
  if (value <= 12) return 3;
  return 4;
}

void Command(uint8_t verb, uint8_t option, std::vector<uint8_t>* wire) {
  wire->insert(wire->end(), {kIac, verb, option});
}

}  // namespace

const std::vector<ComSetting>& LineSettings() {
  // Parity 1 is none, stop size 1 one stop bit; control 1 is no flow control
  // (both ways), 8 DTR on, 11 RTS on.
  static const std::vector<ComSetting> settings = {
      {kSetBaudRate, 115200, "the baud rate 115200", true},
      {kSetDataSize, 8, "8 data bits", true},
      {kSetParity, 1, "no parity", true},
      {kSetStopSize, 1, "one stop bit", true},
      {kSetControl, 8, "DTR on", false},
      {kSetControl, 11, "RTS on", false},
      {kSetControl, 1, "no flow control", true},
  };
  return settings;
}

void TelnetLink::Start(std::vector<uint8_t>* wire) {
  for (uint8_t option : {kBinary, kSuppressGoAhead}) {
    local_[option] = Q::kWantYes;
    Command(kWill, option, wire);
    remote_[option] = Q::kWantYes;
    Command(kDo, option, wire);
  }
  local_[kComPort] = Q::kWantYes;
  Command(kWill, kComPort, wire);
}

void TelnetLink::Escape(const uint8_t* data, size_t n, std::vector<uint8_t>* wire) {
  for (size_t i = 0; i < n; ++i) {
    wire->push_back(data[i]);
    if (data[i] == kIac) wire->push_back(kIac);
  }
}

OptionState TelnetLink::ComPort() const {
  if (local_[kComPort] == Q::kYes) return OptionState::kAccepted;
  return comPortRefused_ ? OptionState::kRefused : OptionState::kPending;
}

size_t TelnetLink::SlotOf(uint8_t code, uint32_t value) {
  if (code < kSetControl) return code - kSetBaudRate;
  return kSetControl - kSetBaudRate + static_cast<size_t>(ControlGroup(value));
}

bool TelnetLink::Answer(const ComSetting& setting, uint32_t* value) const {
  if (setting.code < kSetBaudRate || setting.code > kSetControl) return false;
  const Slot& slot = answers_[SlotOf(setting.code, setting.value)];
  if (slot.got) *value = slot.value;
  return slot.got;
}

void TelnetLink::Request(const ComSetting& setting, std::vector<uint8_t>* wire) {
  wire->insert(wire->end(), {kIac, kSb, kComPort, setting.code});
  uint8_t value[4] = {static_cast<uint8_t>(setting.value >> 24),
                      static_cast<uint8_t>(setting.value >> 16),
                      static_cast<uint8_t>(setting.value >> 8),
                      static_cast<uint8_t>(setting.value)};
  if (setting.code == kSetBaudRate) {
    Escape(value, 4, wire);
  } else {
    Escape(value + 3, 1, wire);
  }
  wire->insert(wire->end(), {kIac, kSe});
}

void TelnetLink::Receive(const uint8_t* in, size_t n, std::vector<uint8_t>* data,
                         std::vector<uint8_t>* reply) {
  for (size_t i = 0; i < n && !garbled_; ++i) {
    const uint8_t b = in[i];
    switch (parse_) {
      case Parse::kData:
        if (b == kIac) {
          parse_ = Parse::kIac;
          break;
        }
        // Without binary mode the server sends a carriage return as CR NUL.
        if (!(b == 0 && afterCr_ && remote_[kBinary] != Q::kYes)) data->push_back(b);
        afterCr_ = b == '\r';
        break;
      case Parse::kIac:
        afterCr_ = false;
        if (b == kIac) {
          data->push_back(kIac);
          parse_ = Parse::kData;
        } else if (b == kWill || b == kWont || b == kDo || b == kDont) {
          verb_ = b;
          parse_ = Parse::kVerb;
        } else if (b == kSb) {
          parse_ = Parse::kSbOption;
        } else {
          // NOP, go-ahead, data mark and the like carry nothing for the line.
          parse_ = Parse::kData;
        }
        break;
      case Parse::kVerb:
        Negotiate(verb_, b, reply);
        parse_ = Parse::kData;
        break;
      case Parse::kSbOption:
        sbOption_ = b;
        sbKept_ = 0;
        sbRun_ = 0;
        parse_ = Parse::kSbData;
        break;
      case Parse::kSbData:
        if (++sbRun_ > kMaxSubnegotiationRun) {
          garbled_ = true;
        } else if (b == kIac) {
          parse_ = Parse::kSbIac;
        } else if (sbKept_ < kMaxSubnegotiation) {
          sb_[sbKept_++] = b;
        }
        break;
      case Parse::kSbIac:
        if (b == kIac) {
          if (sbKept_ < kMaxSubnegotiation) sb_[sbKept_++] = kIac;
          parse_ = Parse::kSbData;
        } else {
          // IAC SE ends it; any other command after IAC ends it as well.
          EndSubnegotiation();
          parse_ = Parse::kData;
        }
        break;
    }
  }
}

void TelnetLink::Negotiate(uint8_t verb, uint8_t option, std::vector<uint8_t>* reply) {
  Q& mine = local_[option];
  Q& theirs = remote_[option];
  switch (verb) {
    case kDo:
      if (!WeWill(option)) {
        Command(kWont, option, reply);
      } else if (mine == Q::kNo) {
        mine = Q::kYes;
        Command(kWill, option, reply);
      } else {
        mine = Q::kYes;
      }
      break;
    case kDont:
      if (option == kComPort && mine != Q::kYes) comPortRefused_ = true;
      if (mine == Q::kYes) Command(kWont, option, reply);
      mine = Q::kNo;
      break;
    case kWill:
      if (!TheyMay(option)) {
        Command(kDont, option, reply);
      } else if (theirs == Q::kNo) {
        theirs = Q::kYes;
        Command(kDo, option, reply);
      } else {
        theirs = Q::kYes;
      }
      break;
    case kWont:
      if (theirs == Q::kYes) Command(kDont, option, reply);
      theirs = Q::kNo;
      break;
  }
}

void TelnetLink::EndSubnegotiation() {
  if (sbOption_ != kComPort || sbKept_ == 0) return;
  const uint8_t code = sb_[0];
  // Only answers to settings count; notifications of the line and modem
  // state (and anything else the server volunteers) are dropped.
  if (code <= kServerOffset || code > kServerOffset + kSetControl) return;
  uint32_t value = 0;
  for (size_t i = 1; i < sbKept_ && i <= 4; ++i) value = value << 8 | sb_[i];
  // A server that answers again (or floods answers) changes nothing: the
  // first answer stands, and nothing piles up.
  Slot& slot = answers_[SlotOf(static_cast<uint8_t>(code - kServerOffset), value)];
  if (!slot.got) slot = Slot{true, value};
}
