// What the expander says during a download: the "*" of each sub-packet, the
// status reply "@<digit>", the prompt '>', amid any noise. The first input
// byte picks the wait (and the retry count), the rest is what arrives.
// Properties:
// - status wait: reads take two bytes at a time; the first read that brings
//   a digit decides, by its last digit: "0" and "1" accept, "2" to "9"
//   reject; no digit at all is a time-out;
// - "*" wait: succeeds exactly when a '*' arrives;
// - prompt wait: a '>' within the first read is found; with no '>' at all
//   the console counts as gone;
// - a whole packet: sub-packets of at most 12 characters, at most
//   max(1, dlretry) attempts, and an acceptance only if some reply carried
//   "0" or "1". Replies are split at '|', one piece after each write.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/report.h"
#include "config/settings.h"
#include "console/device.h"
#include "fuzz_support.h"
#include "protocol/transfer.h"
#include "scripted_expander.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

void CheckStatusWait(const std::string& reply) {
  ScriptedPort port;
  port.exp().Reply(reply);
  const bool accepted = QueryWriteComStatus(1);
  char decided = 0;
  for (size_t i = 0; i < reply.size() && !decided; i += 2) {
    for (size_t j = i; j < i + 2 && j < reply.size(); ++j)
      if (IsDigit(reply[j])) decided = reply[j];
  }
  FUZZ_CHECK(accepted == (decided == '0' || decided == '1'));
}

void CheckStarWait(const std::string& reply) {
  ScriptedPort port;
  port.exp().Reply(reply);
  const bool acked = QueryWriteSubpacketStatus();
  FUZZ_CHECK(acked == (reply.find('*') != std::string::npos));
}

void CheckPrompt(const std::string& reply) {
  ScriptedPort port;
  // Arrives just after the opening purge.
  port.exp().Reply(reply, 1);
  const bool up = IsSysUpAndRunning(2);
  if (reply.substr(0, 100).find('>') != std::string::npos) FUZZ_CHECK(up);
  if (reply.find('>') == std::string::npos) FUZZ_CHECK(!up);
}

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  size_t pos = 0;
  for (;;) {
    size_t at = s.find(sep, pos);
    parts.push_back(s.substr(pos, at == std::string::npos ? std::string::npos : at - pos));
    if (at == std::string::npos) return parts;
    pos = at + 1;
  }
}

void CheckPacket(const std::string& replies, int32_t retries, uint32_t offset) {
  ScriptedPort port;
  const std::vector<std::string> pieces = Split(replies, '|');
  size_t next = 0;
  port.exp().SetResponder([&](ScriptedExpander& e, const std::string&) {
    if (next < pieces.size()) e.Reply(pieces[next++], 2);
  });
  my_cfg.dlretry = retries;
  uint8_t payload[256];
  for (size_t i = 0; i < sizeof payload; ++i) payload[i] = static_cast<uint8_t>(i * 7);
  g_dwStartRetryCount = g_dwNormalRetryCount = g_dwSubpacketTimeoutCount = 0;
  const bool accepted = SendRawDataToComport(payload, sizeof payload, 0, offset);

  for (const auto& w : port.exp().writes()) FUZZ_CHECK(w.bytes.size() <= 12);
  const uint32_t failed = g_dwStartRetryCount + g_dwNormalRetryCount;
  const uint32_t attempts = failed + (accepted ? 1 : 0);
  FUZZ_CHECK(attempts <= static_cast<uint32_t>(std::max(1, retries)));
  FUZZ_CHECK(accepted || attempts == static_cast<uint32_t>(std::max(1, retries)));
  if (accepted) FUZZ_CHECK(replies.find_first_of("01") != std::string::npos);
}

bool Init() {
  fuzz::QuietTrace();
  my_cfg.dlstartdelay = 1;
  my_cfg.dlnormaldelay = 1;
  g_bStopDl = 0;
  g_bExitingDlMode = 0;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = Init();
  (void)init;
  if (size < 1) return 0;
  const uint8_t selector = data[0];
  const std::string reply(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (selector & 3) {
    case 0: CheckStatusWait(reply); break;
    case 1: CheckStarWait(reply); break;
    case 2: CheckPrompt(reply); break;
    case 3: CheckPacket(reply, static_cast<int8_t>(selector) >> 4, (selector & 4) ? 0 : 256); break;
  }
  return 0;
}
