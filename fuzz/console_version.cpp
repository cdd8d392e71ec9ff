// The console's answer to the version query may be anything: boot messages,
// noise, a half-dead line. Properties of IsNeededVer and CheckFirmwareVer:
// - the version found is the leftmost four-number text, as a plain scan
//   finds it, with numbers beyond int range read as the largest int;
// - a version printed back parses to the same version and the same verdict;
// - the verdict is the minimum-version rule; control bytes become ',';
// - CheckFirmwareVer gives -1 for an answer of 20 characters or fewer and
//   otherwise what IsNeededVer gives on the same text; -1 leaves the record.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "console/version.h"
#include "fuzz_support.h"
#include "scripted_expander.h"

namespace {

struct Found {
  bool ok = false;
  uint32_t n[4] = {0, 0, 0, 0};
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

uint32_t Saturated(const std::string& digits) {
  uint64_t v = 0;
  for (char c : digits) {
    v = v * 10 + static_cast<uint64_t>(c - '0');
    if (v > 0x7FFFFFFF) return 0x7FFFFFFF;
  }
  return static_cast<uint32_t>(v);
}

// Four runs of digits joined by single dots, starting at `at`.
bool MatchAt(const std::string& s, size_t at, Found* f) {
  size_t pos = at;
  for (int i = 0; i < 4; ++i) {
    size_t begin = pos;
    while (pos < s.size() && IsDigit(s[pos])) ++pos;
    if (pos == begin) return false;
    f->n[i] = Saturated(s.substr(begin, pos - begin));
    if (i < 3) {
      if (pos >= s.size() || s[pos] != '.') return false;
      ++pos;
    }
  }
  f->ok = true;
  return true;
}

Found Scan(const std::string& s) {
  Found f;
  for (size_t at = 0; at < s.size(); ++at)
    if (MatchAt(s, at, &f)) return f;
  return Found();
}

bool NewEnough(const FW_VERSION& v) {
  return v.major > 0 || v.minor > 1 || (v.minor == 1 && v.revision >= 5);
}

void CheckParse(const std::string& text) {
  std::string cleaned = text;
  for (char& c : cleaned)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = ',';
  std::string work = text;
  FW_VERSION v;
  memset(&v, 0xEE, sizeof v);
  const int32_t result = IsNeededVer(&work[0], &v);
  FUZZ_CHECK(work == cleaned);

  const Found f = Scan(cleaned);
  if (!f.ok) {
    FUZZ_CHECK(result == 0);
    FUZZ_CHECK(v.major == 0 && v.minor == 0 && v.build == 0 && v.revision == 0);
    return;
  }
  FUZZ_CHECK(v.major == f.n[0] && v.minor == f.n[1] && v.build == f.n[2] && v.revision == f.n[3]);
  FUZZ_CHECK(result == (NewEnough(v) ? 1 : 0));

  char printed[64];
  snprintf(printed, sizeof printed, "%u.%u.%u.%u", v.major, v.minor, v.build, v.revision);
  FW_VERSION again;
  FUZZ_CHECK(IsNeededVer(printed, &again) == result);
  FUZZ_CHECK(memcmp(&again, &v, sizeof v) == 0);
}

void CheckQuery(const std::string& answer) {
  ScopedVirtualClock vclock;
  ScriptedExpander exp(vclock.clock());
  SetSerialBackend(&exp);
  exp.Open(1);
  bool answered = false;
  exp.SetResponder([&](ScriptedExpander& e, const std::string& written) {
    if (!answered && written == "\n\n\n" && e.written().find("donz 0x06 0x88") != std::string::npos) {
      answered = true;
      e.Reply(answer, 5);
    }
  });
  FW_VERSION v = {7, 7, 7, 7};
  const int32_t result = CheckFirmwareVer(&v, 4);
  SetSerialBackend(nullptr);

  // One read takes at most 2048 bytes; the text ends at its first NUL.
  std::string text = answer.substr(0, 2048);
  text = text.substr(0, strnlen(text.c_str(), text.size()));
  if (text.size() <= 20) {
    FUZZ_CHECK(result == -1);
    FUZZ_CHECK(v.major == 7 && v.minor == 7 && v.build == 7 && v.revision == 7);
    return;
  }
  FW_VERSION expected;
  FUZZ_CHECK(result == IsNeededVer(&text[0], &expected));
  FUZZ_CHECK(memcmp(&expected, &v, sizeof v) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = fuzz::QuietTrace();
  (void)init;
  const std::string input(reinterpret_cast<const char*>(data), size);
  // IsNeededVer sees a NUL-terminated text of at most one read, 2048 bytes.
  // (Its search is quadratic in a run of digits: 2048 of them take about
  // 0.1 s, longer texts would only make the fuzzer time out.)
  const std::string one_read = input.substr(0, 2048);
  CheckParse(one_read.substr(0, strnlen(one_read.c_str(), one_read.size())));
  CheckQuery(input);
  return 0;
}
