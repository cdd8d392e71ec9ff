// The firmware version query: one exchange on the console, then the parse of
// the answer and the minimum-version rule.
#include "console/version.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>

#include "image/fw_format.h"
#include "platform/trace.h"
#include "platform/clock.h"
#include "serial/serial_port.h"

FW_VERSION g_start_ver = {0, 0, 0, 0};

const char kVersionQuery[] = "donz 0x06 0x88";

namespace {

// Room for one read of kMaxRead bytes and its NUL.
constexpr uint32_t kAnswerBufSize = 2052;
constexpr uint32_t kMaxRead = 2048;
// A shorter answer cannot be a complete reply to the query.
constexpr size_t kMinAnswerLen = 21;
// Repeated queries after the time-out before the console counts as silent.
constexpr uint32_t kMaxQueries = 3;
// Longest sleep between two polling turns, so a reply is seen promptly.
constexpr uint32_t kPollMs = 50;

// One decimal field of the version as "%d" would read it, without the
// undefined behaviour of an overflowing conversion: out-of-range values
// saturate at the largest int.
uint32_t ParseField(const std::string& field) {
  size_t b = field.find_first_not_of(" \t\r\n\v\f");
  size_t e = field.find_last_not_of(" \t\r\n\v\f");
  if (b == std::string::npos) return 0;
  std::string digits = field.substr(b, e - b + 1);
  errno = 0;
  long long v = std::strtoll(digits.c_str(), nullptr, 10);
  if (errno == ERANGE || v > 0x7FFFFFFFLL) v = 0x7FFFFFFFLL;
  if (v < 0) v = 0;
  return static_cast<uint32_t>(v);
}

}  // namespace

int32_t IsNeededVer(char* text, FW_VERSION* ver) {
  // Line ends and any byte outside printable ASCII become commas, so that a
  // version split by a control byte no longer matches.
  for (unsigned char* p = reinterpret_cast<unsigned char*>(text); *p; ++p) {
    if (*p < 0x20 || *p > 0x7E) *p = ',';
  }
  ver->major = ver->minor = ver->build = ver->revision = 0;
  DbgTrace("IsNeededVer--1");

  std::cmatch m;
  bool found = false;
  try {
    static const std::regex kPattern("([0-9]+)\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)",
                                     std::regex::ECMAScript | std::regex::icase);
    // regex_search takes the leftmost match, each group as long as it goes.
    found = std::regex_search(text, m, kPattern);
  } catch (const std::regex_error&) {
    DbgTrace("status != REPARSE_ERROR_OK");
    return 0;
  }
  if (!found) {
    DbgTrace("!re.Match");
    return 0;
  }
  ver->major = ParseField(m[1].str());
  ver->minor = ParseField(m[2].str());
  ver->build = ParseField(m[3].str());
  ver->revision = ParseField(m[4].str());
  DbgTrace("Ver=%d,%d,%d,%d\n", static_cast<int>(ver->major), static_cast<int>(ver->minor),
           static_cast<int>(ver->build), static_cast<int>(ver->revision));
  DbgTrace("IsNeededVer--ended");

  if (IsUsableVersion(*ver)) {
    DbgTrace("ver check OK");
    return 1;
  }
  DbgTrace("ver check too old");
  return 0;
}

int32_t CheckFirmwareVer(FW_VERSION* ver, uint32_t timeout) {
  char buffer[kAnswerBufSize];
  DbgTrace("CheckFirmwareVer(v1.8) called");
  WriteCom("\n\r");
  PauseMs(100);
  PauseMs(200);
  // Text that came before the query (boot messages, a late prompt, the reply
  // to "\n\r") must never be read as its answer.
  WriteComForReply(kVersionQuery);

  // The deadline stays where it is across repeated queries: once it has
  // passed, every turn without an answer repeats the query at once.
  const int64_t start = NowSeconds();
  uint32_t queries = 1;
  uint32_t iBytesRead = 0;
  for (;;) {
    // No answer can come through a port that is gone, nor a repeated query go out.
    if (IsComLost()) {
      DbgTrace("CheckFirmwareVer: port lost\n");
      return -1;
    }
    // Nor through one closed under the query (Quit, a stop request).
    if (!is_open()) {
      DbgTrace("CheckFirmwareVer: port closed\n");
      return -1;
    }
    bool expired = NowSeconds() - start > static_cast<int64_t>(timeout);
    if (expired) {
      DbgTrace("CheckFirmwareVer timeout\n");
      if (queries > kMaxQueries) return -1;
      DbgTrace("Issuing(#%d) the 0x06 0x88 cmd again\n", static_cast<int>(queries));
      PurgeCom();
      PauseMs(100);
      WriteCom("\n\r ");
      WriteComForReply(kVersionQuery);
      ++queries;
    }
    if (MyReadFile(reinterpret_cast<uint8_t*>(buffer), kMaxRead, &iBytesRead) &&
        iBytesRead > 0) {
      DbgTrace("iBytesRead=%d", static_cast<int>(iBytesRead));
      buffer[iBytesRead] = '\0';
      break;
    }
    // Before the deadline, sleep until input arrives (at most kPollMs); after
    // it, the next turn repeats the query straight away.
    if (!expired) WaitComInput(kPollMs);
  }

  DbgTrace("CheckFirmwareVer read:");
  DbgTrace("buffer=%s", buffer);
  if (strlen(buffer) < kMinAnswerLen) {
    DbgTrace("buffer=%s", buffer);
    return -1;
  }
  return IsNeededVer(buffer, ver);
}

int32_t AskRunningVersion(FW_VERSION* out, uint32_t timeout, int extraQueries,
                          bool (*askAgain)(int n, int32_t result)) {
  for (int query = 0;; ++query) {
    FW_VERSION ver = *out;
    const int32_t result = CheckFirmwareVer(&ver, timeout);
    const bool noVersionText = result == 0 && ver.major == 0 && ver.minor == 0 &&
                               ver.build == 0 && ver.revision == 0;
    if (result != -1 && !noVersionText) {
      *out = ver;
      return result;
    }
    if (query >= extraQueries || !askAgain(query + 1, result)) return -1;
  }
}

bool SameVersion(const FW_VERSION& a, const FW_VERSION& b) {
  return a.major == b.major && a.minor == b.minor && a.build == b.build &&
         a.revision == b.revision;
}

bool OlderVersion(const FW_VERSION& a, const FW_VERSION& b) {
  const uint32_t x[] = {a.major, a.minor, a.build, a.revision};
  const uint32_t y[] = {b.major, b.minor, b.build, b.revision};
  for (size_t k = 0; k < 4; ++k) {
    if (x[k] != y[k]) return x[k] < y[k];
  }
  return false;
}

const FW_VERSION kOldestUsableVersion = {0, 1, 0, 5};

bool IsUsableVersion(const FW_VERSION& ver) {
  // The build number takes no part: 0.1.x.5 is the oldest usable firmware.
  const FW_VERSION& min = kOldestUsableVersion;
  if (ver.major != min.major) return ver.major > min.major;
  if (ver.minor != min.minor) return ver.minor > min.minor;
  return ver.revision >= min.revision;
}

std::string VersionNumbers(const FW_VERSION& ver) {
  return VersionNumbersText(ver.major, ver.minor, ver.build, ver.revision);
}

std::string VersionText(const FW_VERSION& ver) { return "v" + VersionNumbers(ver); }
