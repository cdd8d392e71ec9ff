// The console's answer to the version query may be anything: boot messages,
// noise, a half-dead line. Properties of IsNeededVer and CheckFirmwareVer:
// - the version found is the leftmost four-number text, as a reference that
//   cuts the text into runs of digits finds it, with numbers beyond int range
//   read as the largest int;
// - a version printed back parses to the same version and the same verdict;
// - the verdict ignores the build number and never falls as a version rises
//   (no copy of the minimum version here); control bytes become ',';
// - CheckFirmwareVer gives -1 for an answer of 20 characters or fewer and
//   otherwise what IsNeededVer gives on the same text; -1 leaves the record.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "console/version.h"
#include "fuzz_support.h"
#include "scripted_expander.h"

namespace {

struct Found {
  bool ok = false;
  uint32_t n[4] = {0, 0, 0, 0};
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A run of digits as a number, the largest int when it is larger: by its
// digits, not by arithmetic.
uint32_t NumberOf(const std::string& digits) {
  const size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return 0;
  const std::string d = digits.substr(first);
  const std::string kMax = "2147483647";
  if (d.size() > kMax.size() || (d.size() == kMax.size() && d > kMax)) return 0x7FFFFFFF;
  return static_cast<uint32_t>(std::stoul(d));
}

// The reference, written apart from any scan by position: the text cut into
// its maximal runs of digits, each with the text that follows it. A
// four-number text can only begin where a run begins (a start inside a run
// would leave digits before it that match too), so the first four runs in a
// row joined by a lone "." are the version.
Found Reference(const std::string& s) {
  std::vector<std::string> runs, gaps;
  for (size_t i = 0; i < s.size();) {
    if (!IsDigit(s[i])) {
      if (!runs.empty()) gaps.back() += s[i];
      ++i;
      continue;
    }
    size_t end = i;
    while (end < s.size() && IsDigit(s[end])) ++end;
    runs.push_back(s.substr(i, end - i));
    gaps.emplace_back();
    i = end;
  }
  for (size_t r = 0; r + 3 < runs.size(); ++r) {
    if (gaps[r] != "." || gaps[r + 1] != "." || gaps[r + 2] != ".") continue;
    Found f;
    f.ok = true;
    for (int k = 0; k < 4; ++k) f.n[k] = NumberOf(runs[r + static_cast<size_t>(k)]);
    return f;
  }
  return Found();
}

// Properties of the verdict that hold whatever the minimum version is: the
// build number plays no part; a later major, minor or revision never turns
// an accepted version down; 0.00.0000.00 is too old and 1.00.0000.00 is not.
void CheckVerdict(const FW_VERSION& v, int32_t result) {
  auto verdict = [](uint32_t major, uint32_t minor, uint32_t build, uint32_t revision) {
    char text[64];
    snprintf(text, sizeof text, "%u.%u.%u.%u", major, minor, build, revision);
    FW_VERSION parsed;
    return IsNeededVer(text, &parsed);
  };
  auto up = [](uint32_t n) { return n < 0x7FFFFFFF ? n + 1 : n; };
  FUZZ_CHECK(verdict(v.major, v.minor, v.build ^ 1, v.revision) == result);
  FUZZ_CHECK(verdict(v.major, v.minor, 0, v.revision) == result);
  if (result == 1) {
    FUZZ_CHECK(verdict(up(v.major), v.minor, v.build, v.revision) == 1);
    FUZZ_CHECK(verdict(v.major, up(v.minor), v.build, v.revision) == 1);
    FUZZ_CHECK(verdict(v.major, v.minor, v.build, up(v.revision)) == 1);
  }
  FUZZ_CHECK(verdict(0, 0, 0, 0) == 0);
  FUZZ_CHECK(verdict(1, 0, 0, 0) == 1);
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

  const Found f = Reference(cleaned);
  if (!f.ok) {
    FUZZ_CHECK(result == 0);
    FUZZ_CHECK(v.major == 0 && v.minor == 0 && v.build == 0 && v.revision == 0);
    return;
  }
  FUZZ_CHECK(v.major == f.n[0] && v.minor == f.n[1] && v.build == f.n[2] && v.revision == f.n[3]);
  FUZZ_CHECK(result == 0 || result == 1);
  CheckVerdict(v, result);

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
  exp.Open(ComPortAddress(1), false);
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
