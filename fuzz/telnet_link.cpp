// Bytes from a console server's telnet port: whatever a server on a shared
// network may send. The first byte chooses whether the client's opening went
// out first and where the rest is cut; the rest is what the server sends.
// Properties of the telnet link:
// - the line's data, the answers and the state do not depend on how the
//   bytes are split between receives (every cut point for short inputs);
// - the line's data is the input with the commands taken out and 0xFF 0xFF
//   undone, as a reader of the telnet rules below finds it (its own reading,
//   not the link's);
// - every request of the server for an option this side does not do is
//   refused, every other one answered at most once per change, never in a
//   loop; the answers are whole commands;
// - every answer to a setting the server sends is taken (the first stands),
//   and a subnegotiation that does not end garbles the link at the bound
//   instead of being kept;
// - what comes out is bounded by what went in.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "serial/telnet_link.h"

namespace {

constexpr uint8_t IAC = 0xFF, WILL = 0xFB, WONT = 0xFC, DO = 0xFD, DONT = 0xFE, SB = 0xFA;

// The telnet rules as this harness reads them: a byte other than IAC is data
// (a NUL straight after a data CR is dropped until the server does binary);
// IAC IAC is a data 0xFF; IAC and a verb take one more byte, the option;
// IAC SB takes an option and runs to the next IAC not doubled, which ends it
// together with the byte after it; IAC and anything else is a command of two
// bytes. An incomplete command at the end yields nothing.
struct Reading {
  std::string data;
  std::vector<std::pair<uint8_t, uint8_t>> refusals;  // verb, option, in order
  int requests = 0;
  bool garbled = false;
  OptionState comPort = OptionState::kPending;
  // The first value the server answered per COM port code 1..5, and per
  // control group 0..4 for code 5.
  bool got[10] = {};
  uint32_t value[10] = {};
};

int Group(uint32_t v) { return v < 4 ? 0 : v < 7 ? 1 : v < 10 ? 2 : v < 13 ? 3 : 4; }

int AnswerIndex(uint8_t code, uint32_t value) {
  return code == telnet::kSetControl ? 5 + Group(value) : code;
}

void TakeSubnegotiation(uint8_t option, const std::string& body, Reading* r) {
  if (option != telnet::kComPort || body.empty()) return;
  const uint8_t code = static_cast<uint8_t>(body[0]);
  if (code < 101 || code > 105) return;
  uint32_t v = 0;
  for (size_t k = 1; k < body.size() && k < 5; ++k) v = v << 8 | static_cast<uint8_t>(body[k]);
  const int at = AnswerIndex(static_cast<uint8_t>(code - 100), v);
  if (!r->got[at]) {
    r->got[at] = true;
    r->value[at] = v;
  }
}

Reading Read(const uint8_t* in, size_t n) {
  Reading r;
  bool binary = false, lastWasCr = false, comPortOn = false, comPortRefused = false;
  size_t i = 0;
  while (i < n) {
    if (in[i] != IAC) {
      if (!(in[i] == 0 && lastWasCr && !binary)) r.data += static_cast<char>(in[i]);
      lastWasCr = in[i] == '\r';
      ++i;
      continue;
    }
    lastWasCr = false;
    if (i + 1 >= n) break;
    const uint8_t verb = in[i + 1];
    if (verb == IAC) {
      r.data += '\xff';
      i += 2;
    } else if (verb == WILL || verb == WONT || verb == DO || verb == DONT) {
      if (i + 2 >= n) break;
      const uint8_t opt = in[i + 2];
      ++r.requests;
      if (verb == DO && opt != 0 && opt != 3 && opt != 44) r.refusals.push_back({WONT, opt});
      if (verb == WILL && opt != 0 && opt != 3) r.refusals.push_back({DONT, opt});
      if (opt == 0 && (verb == WILL || verb == WONT)) binary = verb == WILL;
      // The COM port option is on from the server's DO to its DONT; a DONT
      // while it was not on refuses it, and that is not forgotten.
      if (opt == 44 && verb == DO) comPortOn = true;
      if (opt == 44 && verb == DONT) {
        if (!comPortOn) comPortRefused = true;
        comPortOn = false;
      }
      i += 3;
    } else if (verb == SB) {
      if (i + 2 >= n) break;
      const uint8_t opt = in[i + 2];
      std::string body;
      size_t j = i + 3, steps = 0;
      bool ended = false;
      while (j < n) {
        if (++steps > TelnetLink::kMaxSubnegotiationRun) {
          r.garbled = true;
          break;
        }
        if (in[j] != IAC) {
          body += static_cast<char>(in[j]);
          ++j;
        } else if (j + 1 >= n) {
          break;
        } else if (in[j + 1] == IAC) {
          body += '\xff';
          j += 2;
        } else {
          ended = true;
          j += 2;
          break;
        }
      }
      if (r.garbled || !ended) break;
      TakeSubnegotiation(opt, body.substr(0, 64), &r);
      i = j;
    } else {
      i += 2;
    }
  }
  r.comPort = comPortOn        ? OptionState::kAccepted
              : comPortRefused ? OptionState::kRefused
                               : OptionState::kPending;
  return r;
}

struct Decoded {
  std::vector<uint8_t> data, reply;
  TelnetLink link;
};

// Feeds `in` cut at `cuts` (ascending positions).
void Decode(const uint8_t* in, size_t n, bool started, const std::vector<size_t>& cuts,
            Decoded* d) {
  std::vector<uint8_t> opening;
  if (started) d->link.Start(&opening);
  size_t from = 0;
  for (size_t cut : cuts) {
    d->link.Receive(in + from, cut - from, &d->data, &d->reply);
    from = cut;
  }
  d->link.Receive(in + from, n - from, &d->data, &d->reply);
}

void CheckSame(const Decoded& a, const Decoded& b) {
  FUZZ_CHECK(a.data == b.data);
  FUZZ_CHECK(a.reply == b.reply);
  FUZZ_CHECK(a.link.ComPort() == b.link.ComPort());
  FUZZ_CHECK(a.link.Garbled() == b.link.Garbled());
  for (const ComSetting& s : LineSettings()) {
    uint32_t va = 0, vb = 0;
    const bool ga = a.link.Answer(s, &va), gb = b.link.Answer(s, &vb);
    FUZZ_CHECK(ga == gb);
    FUZZ_CHECK(!ga || va == vb);
  }
}

void CheckReply(const Decoded& d, const Reading& r) {
  const std::vector<uint8_t>& reply = d.reply;
  FUZZ_CHECK(reply.size() % 3 == 0);
  FUZZ_CHECK(reply.size() / 3 <= static_cast<size_t>(r.requests));
  size_t next = 0;
  // Per option and side, the last answer: for an option this side takes
  // part in, no answer repeats the one before it, or the two sides would
  // answer each other in a loop.
  uint8_t lastOurs[256] = {}, lastTheirs[256] = {};
  for (size_t k = 0; k < reply.size(); k += 3) {
    FUZZ_CHECK(reply[k] == IAC);
    const uint8_t verb = reply[k + 1], opt = reply[k + 2];
    FUZZ_CHECK(verb == WILL || verb == WONT || verb == DO || verb == DONT);
    const bool ours = verb == WILL || verb == WONT;
    const bool takesPart = ours ? (opt == 0 || opt == 3 || opt == 44) : (opt == 0 || opt == 3);
    uint8_t& last = ours ? lastOurs[opt] : lastTheirs[opt];
    if (takesPart) {
      FUZZ_CHECK(last != verb);
      last = verb;
    } else {
      FUZZ_CHECK(verb == WONT || verb == DONT);
    }
    if (next < r.refusals.size() && r.refusals[next].first == verb &&
        r.refusals[next].second == opt) {
      ++next;
    }
  }
  FUZZ_CHECK(next == r.refusals.size());
}

void CheckReading(const Decoded& d, const Reading& r) {
  FUZZ_CHECK(std::string(d.data.begin(), d.data.end()) == r.data);
  FUZZ_CHECK(d.link.Garbled() == r.garbled);
  FUZZ_CHECK(d.link.ComPort() == r.comPort);
  for (const ComSetting& s : LineSettings()) {
    uint32_t v = 0;
    const int at = AnswerIndex(s.code, s.value);
    FUZZ_CHECK(d.link.Answer(s, &v) == r.got[at]);
    FUZZ_CHECK(!r.got[at] || v == r.value[at]);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool started = (data[0] & 1) != 0;
  uint32_t seed = data[0] >> 1;
  const uint8_t* in = data + 1;
  const size_t n = size - 1;

  Decoded whole;
  Decode(in, n, started, {}, &whole);
  FUZZ_CHECK(whole.data.size() <= n);
  const Reading reading = Read(in, n);
  CheckReading(whole, reading);
  CheckReply(whole, reading);

  // Every single cut for short inputs; for long ones a run of cuts in
  // pieces of 1 to 16 bytes, drawn from the first byte.
  if (n <= 96) {
    for (size_t cut = 1; cut < n; ++cut) {
      Decoded d;
      Decode(in, n, started, {cut}, &d);
      CheckSame(whole, d);
    }
  }
  std::vector<size_t> cuts;
  for (size_t at = 0;;) {
    seed = seed * 1103515245u + 12345u;
    at += 1 + (seed >> 16) % 16;
    if (at >= n) break;
    cuts.push_back(at);
  }
  Decoded pieces;
  Decode(in, n, started, cuts, &pieces);
  CheckSame(whole, pieces);
  return 0;
}
