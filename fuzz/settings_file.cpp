// Settings files are edited by hand: any bytes, any line ends, quotes,
// duplicate keys and sections. Input: one selector byte, the value to write
// up to the first 0x00 byte, then the file's bytes. Properties:
// - a write of a value without a line break succeeds and reads back as the
//   profile rules give it (blanks and one pair of quotes removed, cut to 259);
// - every key other than the one written reads as before;
// - every line other than the key's own is kept byte for byte: the write
//   changes one line in place or adds the key (and its section) as new lines;
// - a value with a line break is refused and leaves the file as it was;
// - LoadSettings corrects every field into range, and SaveSettings followed
//   by LoadSettings gives the same record.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/profile.h"
#include "config/settings.h"
#include "fuzz_support.h"

namespace {

const char* const kSections[] = {"settings", "SETTINGS", "other"};
const char* const kKeys[] = {"file", "comport", "FILE", "signature", "writecmd", "dlretry", "new key"};
constexpr size_t kNumSections = sizeof kSections / sizeof kSections[0];
constexpr size_t kNumKeys = sizeof kKeys / sizeof kKeys[0];
const char kMissing[] = "\x01(missing)";

std::string g_path;

void RemoveTempFile() { unlink(g_path.c_str()); }

bool Init() {
  fuzz::QuietTrace();
  // A write replaces the file through fsync and rename: keep that in memory.
  const char* dir = getenv("TMPDIR");
  if (!dir || !*dir) dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  g_path = std::string(dir) + "/settings-fuzz-" + std::to_string(getpid()) + ".ini";
  atexit(RemoveTempFile);
  SetSettingsPathOverride(g_path.c_str());
  return true;
}

void WriteFile(const std::string& text) {
  FILE* f = fopen(g_path.c_str(), "wb");
  if (!f || fwrite(text.data(), 1, text.size(), f) != text.size() || fclose(f) != 0) {
    perror(g_path.c_str());
    abort();
  }
}

std::string ReadFile() {
  std::string text;
  FILE* f = fopen(g_path.c_str(), "rb");
  if (!f) return text;
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
  fclose(f);
  return text;
}

std::string Get(const char* section, const char* key) {
  char out[260];
  ProfileGetString(g_path.c_str(), section, key, kMissing, out, sizeof out);
  return out;
}

bool EqualNoCase(const char* a, const char* b) { return strcasecmp(a, b) == 0; }

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

// What a read gives back for a value that was written.
std::string ReadBackOf(std::string v) {
  while (!v.empty() && IsBlank(v.front())) v.erase(0, 1);
  while (!v.empty() && IsBlank(v.back())) v.pop_back();
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    v = v.substr(1, v.size() - 2);
  return v.substr(0, 259);
}

// The file's lines, each with its line end ("\r\n", "\n" or a lone "\r").
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    else end += (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1;
    lines.push_back(text.substr(pos, end - pos));
    pos = end;
  }
  return lines;
}

bool HasLineEnd(const std::string& line) {
  return !line.empty() && (line.back() == '\n' || line.back() == '\r');
}

// The part of a key line up to its '=', blanks around the name removed; "" if none.
// A byte-order mark in front of the first line is no part of the name.
std::string KeyOf(std::string line, bool first_line) {
  if (first_line && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
  size_t eq = line.find('=');
  if (eq == std::string::npos) return "";
  std::string k = line.substr(0, eq);
  if (k.find('\0') != std::string::npos) return "";
  while (!k.empty() && IsBlank(k.front())) k.erase(0, 1);
  while (!k.empty() && IsBlank(k.back())) k.pop_back();
  return k;
}

void CheckOtherLinesKept(const std::string& before, const std::string& after, const char* key) {
  std::vector<std::string> a = Lines(before), b = Lines(after);
  size_t prefix = 0;
  while (prefix < a.size() && prefix < b.size() && a[prefix] == b[prefix]) ++prefix;
  size_t suffix = 0;
  while (suffix < a.size() - prefix && suffix < b.size() - prefix &&
         a[a.size() - 1 - suffix] == b[b.size() - 1 - suffix])
    ++suffix;
  const size_t gone = a.size() - prefix - suffix;  // old lines not found as they were
  const size_t added = b.size() - prefix - suffix;
  FUZZ_CHECK(gone <= 1);
  if (before == after) return;  // the key held the value already
  if (gone == 0) {
    // The key (after its section header, if that was missing too) was added.
    FUZZ_CHECK(added >= 1 && added <= 2);
    return;
  }
  const std::string& old_line = a[prefix];
  const std::string& new_line = b[prefix];
  if (!HasLineEnd(old_line) && prefix + 1 == a.size() && new_line.compare(0, old_line.size(), old_line) == 0 &&
      HasLineEnd(new_line) && new_line.size() <= old_line.size() + 2) {
    // The last line got the line end that the new lines after it need.
    FUZZ_CHECK(added >= 2 && added <= 3);
    return;
  }
  // The key's own line, changed in place: same key, same text up to the value.
  FUZZ_CHECK(added == 1);
  FUZZ_CHECK(EqualNoCase(KeyOf(old_line, prefix == 0).c_str(), key));
  FUZZ_CHECK(KeyOf(new_line, prefix == 0) == KeyOf(old_line, prefix == 0));
  size_t eq = old_line.find('=');
  FUZZ_CHECK(new_line.compare(0, eq + 1, old_line, 0, eq + 1) == 0);
}

void CheckLoadSave() {
  FWDL_CFG first;
  memset(&first, 0x5A, sizeof first);
  LoadSettings(&first);
  FUZZ_CHECK(first.comport >= 1);
  FUZZ_CHECK(first.linewaittime <= 1000 && first.charwaittime <= 200);
  FUZZ_CHECK(strnlen(first.file, sizeof first.file) <= 259);
  FUZZ_CHECK(strnlen(first.signature, sizeof first.signature) <= 259);
  size_t vpd = strnlen(first.writevpd, sizeof first.writevpd);
  FUZZ_CHECK(vpd >= 1 && vpd <= 260 && first.writevpd[vpd - 1] == '\n');
  size_t file_len = strlen(first.file);
  FUZZ_CHECK(file_len == 0 || (first.file[0] != ' ' && first.file[file_len - 1] != ' '));

  if (!SaveSettings(&first)) return;  // an unreadable file is never replaced
  FWDL_CFG second;
  memset(&second, 0xA5, sizeof second);
  LoadSettings(&second);
  FUZZ_CHECK(strcmp(second.file, first.file) == 0);
  FUZZ_CHECK(second.comport == first.comport);
  FUZZ_CHECK(strcmp(second.signature, first.signature) == 0);
  FUZZ_CHECK(strcmp(second.writevpd, first.writevpd) == 0);
  FUZZ_CHECK(strcmp(second.device, first.device) == 0);
  FUZZ_CHECK(second.linewaittime == first.linewaittime && second.charwaittime == first.charwaittime);
  FUZZ_CHECK(second.dlstartdelay == first.dlstartdelay && second.dlnormaldelay == first.dlnormaldelay);
  FUZZ_CHECK(second.dlretry == first.dlretry);
  FUZZ_CHECK(second.fileTooLong == first.fileTooLong);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = Init();
  (void)init;
  if (size < 1) return 0;
  const uint8_t selector = data[0];
  const char* section = kSections[(selector >> 4) % kNumSections];
  const char* key = kKeys[(selector & 0x0F) % kNumKeys];
  const char* rest = reinterpret_cast<const char*>(data + 1);
  const size_t rest_len = size - 1;
  const char* nul = static_cast<const char*>(memchr(rest, 0, rest_len));
  const std::string value(rest, nul ? static_cast<size_t>(nul - rest) : rest_len);
  const std::string text = nul ? std::string(nul + 1, rest + rest_len - (nul + 1)) : std::string();

  WriteFile(text);
  std::vector<std::string> seen;
  for (const char* s : kSections)
    for (const char* k : kKeys) seen.push_back(Get(s, k));

  const bool has_break = value.find_first_of("\r\n") != std::string::npos;
  const bool ok = ProfileWriteString(g_path.c_str(), section, key, value.c_str());
  const std::string after = ReadFile();
  if (has_break) {
    FUZZ_CHECK(!ok);
    FUZZ_CHECK(after == text);
    return 0;
  }
  FUZZ_CHECK(ok);
  FUZZ_CHECK(Get(section, key) == ReadBackOf(value));
  size_t i = 0;
  for (const char* s : kSections) {
    for (const char* k : kKeys) {
      if (!(EqualNoCase(s, section) && EqualNoCase(k, key))) FUZZ_CHECK(Get(s, k) == seen[i]);
      ++i;
    }
  }
  CheckOtherLinesKept(text, after, key);

  WriteFile(text);
  CheckLoadSave();
  return 0;
}
