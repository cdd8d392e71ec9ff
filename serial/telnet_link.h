// The telnet side of a console server's port with the COM port option: the
// byte stream's escaping, the option negotiation and the line settings sent
// to the server with their answers. Nothing here touches a socket; the
// network port feeds it what arrives and sends what it hands back.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace telnet {
constexpr uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251;
constexpr uint8_t kSb = 250, kSe = 240;
constexpr uint8_t kBinary = 0, kSuppressGoAhead = 3, kComPort = 44;
// Client-to-server codes of the COM port option; the server answers with
// the code plus kServerOffset.
constexpr uint8_t kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4,
                  kSetControl = 5, kPurgeData = 12;
constexpr uint8_t kServerOffset = 100;
}  // namespace telnet

// One line setting to ask of the server and the answer that confirms it.
struct ComSetting {
  uint8_t code;      // telnet::kSetBaudRate ...
  uint32_t value;    // what is asked and must come back
  const char* text;  // for the user: "the baud rate 115200"
  // False for the modem lines: a server whose line has none (a
  // pseudo-terminal) leaves them unanswered, and the local port does not
  // refuse such a line either. An answer that differs still fails.
  bool mustConfirm;
};

// What this program sets: what the local port sets, 115200 8N1, DTR and RTS
// on, no flow control, in the order sent. The flow control comes last: its
// answer, which every server gives, comes after any answer to the lines.
const std::vector<ComSetting>& LineSettings();

enum class OptionState { kPending, kAccepted, kRefused };

class TelnetLink {
 public:
  // The opening requests: binary both ways, no go-aheads both ways, and this
  // side's COM port option.
  void Start(std::vector<uint8_t>* wire);
  // Appends `data` as it goes on the wire: each 0xFF doubled.
  static void Escape(const uint8_t* data, size_t n, std::vector<uint8_t>* wire);
  // Takes received bytes, which may end anywhere in a command (the rest comes
  // with the next call): the line's data goes to *data, answers to the
  // server's requests to *reply.
  void Receive(const uint8_t* in, size_t n, std::vector<uint8_t>* data,
               std::vector<uint8_t>* reply);
  // Whether the server took up this side's COM port option.
  OptionState ComPort() const;
  // Appends the request that sets `setting`.
  static void Request(const ComSetting& setting, std::vector<uint8_t>* wire);
  // The server's answer to `setting`, if one came. The answers to the
  // several settings of one code (the control code: flow control, DTR, RTS)
  // are told apart by their values.
  bool Answer(const ComSetting& setting, uint32_t* value) const;
  // True once a subnegotiation ran past kMaxSubnegotiationRun bytes without
  // its end. What follows can no longer be told apart into the line's data
  // and commands, so Receive takes nothing more: the link is of no further
  // use. Everything the link keeps has a fixed size, whatever the server
  // sends.
  bool Garbled() const { return garbled_; }
  static constexpr size_t kMaxSubnegotiationRun = 4096;

 private:
  enum class Parse { kData, kIac, kVerb, kSbOption, kSbData, kSbIac };
  enum class Q : uint8_t { kNo, kWantYes, kYes };
  void Negotiate(uint8_t verb, uint8_t option, std::vector<uint8_t>* reply);
  void EndSubnegotiation();

  Parse parse_ = Parse::kData;
  uint8_t verb_ = 0;
  bool afterCr_ = false;
  // Subnegotiations this program reads are a few bytes; of a longer one only
  // the start is kept.
  static constexpr size_t kMaxSubnegotiation = 64;
  // One answer per setting: the first that came. The control code's answers
  // fill a slot per group of values (ControlGroup in telnet_link.cpp).
  static constexpr size_t kAnswerSlots = 4 + 5;
  struct Slot {
    bool got;
    uint32_t value;
  };
  static size_t SlotOf(uint8_t code, uint32_t value);

  uint8_t sbOption_ = 0;
  uint8_t sb_[kMaxSubnegotiation] = {};
  size_t sbKept_ = 0;
  size_t sbRun_ = 0;  // every byte of the one under way, kept or not
  bool garbled_ = false;
  Q local_[256] = {};
  Q remote_[256] = {};
  bool comPortRefused_ = false;
  Slot answers_[kAnswerSlots] = {};
};
