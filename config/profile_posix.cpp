// Profile files on POSIX systems, read and written by the same rules as the
// Windows profile functions:
// - a line ends at "\r\n", "\n" or a lone "\r"; a NUL byte ends its content;
// - a UTF-8 byte-order mark at the start of the file is skipped;
// - "[name]" (blanks around and inside allowed, text after ']' ignored) starts
//   a section; a line without ']' is not a section header;
// - "key=value" lines count inside a section only; a line without '=' is no key;
// - a write rewrites only the line of its key (or adds one) and leaves every
//   other byte of the file as it was, line ends included.
#include "config/profile.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace {

// A settings file is a few hundred bytes; anything beyond this is not one,
// and neither read nor rewritten.
constexpr size_t kMaxFileBytes = 16u * 1024u * 1024u;

enum class FileState { kRead, kMissing, kUnreadable };

// Through the file backend, as every file the programs read: a file that is
// not there reads as missing, one that is there and cannot be read (or is
// far too long to be settings) as unreadable.
FileState ReadWholeFile(const char* path, std::string* text) {
  text->clear();
  if (!Files().Exists(path)) return FileState::kMissing;
  uint64_t size = 0;
  if (!Files().Size(path, &size) || size > kMaxFileBytes) return FileState::kUnreadable;
  text->resize(static_cast<size_t>(size));
  if (size > 0 && !Files().Read(path, &(*text)[0], static_cast<uint32_t>(size))) {
    text->clear();
    return FileState::kUnreadable;
  }
  return FileState::kRead;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

struct Line {
  size_t begin;  // first byte
  size_t end;    // one past the last byte before the line end
  size_t next;   // one past the line end
  std::string_view content;  // begin..end, cut at the first NUL
};

std::vector<Line> SplitLines(const std::string& text) {
  std::vector<Line> lines;
  // A byte-order mark stays part of the first line's bytes but not of its content.
  const size_t content_from = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    size_t next = end;
    if (next < text.size())
      next += (text[next] == '\r' && next + 1 < text.size() && text[next + 1] == '\n') ? 2 : 1;
    size_t from = pos < content_from ? content_from : pos;
    std::string_view content(text.data() + from, end - from);
    size_t nul = content.find('\0');
    if (nul != std::string_view::npos) content = content.substr(0, nul);
    lines.push_back({pos, end, next, content});
    pos = next;
  }
  return lines;
}

bool ParseSection(std::string_view content, std::string_view* name) {
  std::string_view s = TrimBlanks(content);
  if (s.empty() || s.front() != '[') return false;
  size_t close_at = s.find(']');
  if (close_at == std::string_view::npos) return false;
  *name = TrimBlanks(s.substr(1, close_at - 1));
  return true;
}

// `eq` is the offset of '=' within the content.
bool ParseKey(std::string_view content, std::string_view* key, std::string_view* value,
              size_t* eq) {
  size_t at = content.find('=');
  if (at == std::string_view::npos) return false;
  *key = TrimBlanks(content.substr(0, at));
  *value = TrimBlanks(content.substr(at + 1));
  *eq = at;
  return true;
}

// Where a section and a key sit among the lines; indexes into the line list.
struct Location {
  bool has_section = false;
  size_t section_line = 0;
  size_t last_filled_line = 0;  // last non-blank line of the section (header at least)
  bool has_key = false;
  size_t key_line = 0;
  size_t key_eq = 0;
  std::string_view value;
};

Location Locate(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
  Location loc;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view name;
    if (ParseSection(lines[i].content, &name)) {
      if (loc.has_section) break;  // the next section ends the first one of the name
      if (EqualNoCase(name, section)) {
        loc.has_section = true;
        loc.section_line = loc.last_filled_line = i;
      }
      continue;
    }
    if (!loc.has_section) continue;
    if (!TrimBlanks(lines[i].content).empty()) loc.last_filled_line = i;
    std::string_view k, v;
    size_t eq;
    if (!loc.has_key && ParseKey(lines[i].content, &k, &v, &eq) && EqualNoCase(k, key)) {
      loc.has_key = true;
      loc.key_line = i;
      loc.key_eq = eq;
      loc.value = v;
    }
  }
  return loc;
}

std::string_view StripQuotes(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

uint32_t CopyCut(std::string_view text, char* out, size_t size) {
  size_t n = text.size() < size - 1 ? text.size() : size - 1;
  memcpy(out, text.data(), n);
  out[n] = '\0';
  return static_cast<uint32_t>(n);
}

bool HasLineBreak(const char* s) { return strpbrk(s, "\r\n") != nullptr; }

// The line end new lines get: the one the file already uses first, else "\n".
std::string_view LineEndOf(const std::string& text, const std::vector<Line>& lines) {
  for (const Line& l : lines)
    if (l.next > l.end) return std::string_view(text).substr(l.end, l.next - l.end);
  return "\n";
}

}  // namespace

uint32_t ProfileGetString(const char* path, const char* section, const char* key,
                          const char* def, char* out, size_t size) {
  if (size == 0) return 0;
  std::string text;
  if (path && section && key && ReadWholeFile(path, &text) == FileState::kRead) {
    std::vector<Line> lines = SplitLines(text);
    Location loc = Locate(lines, section, key);
    if (loc.has_key) return CopyCut(StripQuotes(loc.value), out, size);
  }
  return CopyCut(def ? def : "", out, size);
}

uint32_t ProfileGetInt(const char* path, const char* section, const char* key, int32_t def) {
  char value[260];
  if (ProfileGetString(path, section, key, "", value, sizeof value) == 0)
    return static_cast<uint32_t>(def);
  const char* p = value;
  while (*p && static_cast<unsigned char>(*p) <= ' ') ++p;
  bool negative = false;
  if (*p == '-' || *p == '+') negative = (*p++ == '-');
  uint32_t number = 0;  // unsigned: wraps modulo 2^32 as the Windows read does
  for (; *p >= '0' && *p <= '9'; ++p) number = number * 10u + static_cast<uint32_t>(*p - '0');
  return negative ? 0u - number : number;
}

bool ProfileWriteString(const char* path, const char* section, const char* key,
                        const char* value) {
  if (!path || !*path || !section || !*section || !key || !*key || !value) return false;
  if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) return false;
  if (strchr(key, '=') || strchr(section, ']')) return false;

  std::string text;
  FileState state = ReadWholeFile(path, &text);
  if (state == FileState::kUnreadable) return false;  // never replace what could not be read

  std::vector<Line> lines = SplitLines(text);
  Location loc = Locate(lines, section, key);
  std::string eol(LineEndOf(text, lines));
  std::string updated;
  if (loc.has_key) {
    // Keep the key as written, its '=' and the blanks after it; replace the rest.
    const Line& line = lines[loc.key_line];
    size_t value_at = static_cast<size_t>(line.content.data() - text.data()) + loc.key_eq + 1;
    while (value_at < line.end && IsBlank(text[value_at])) ++value_at;
    updated = text.substr(0, value_at) + value + text.substr(line.end);
  } else {
    std::string added;
    size_t insert_at;
    if (loc.has_section) {
      const Line& before = lines[loc.last_filled_line];
      insert_at = before.next;
      if (before.next == before.end) {
        added = eol;
      } else {
        // The new line ends as the one before it. The file's first line end
        // could be a lone "\r" that, followed by an empty "\n" line, would
        // join it into one "\r\n" and swallow that line.
        eol = text.substr(before.end, before.next - before.end);
      }
    } else {
      insert_at = text.size();
      if (!lines.empty() && lines.back().next == lines.back().end) added = eol;
      added += std::string("[") + section + "]" + eol;
    }
    added += std::string(key) + "=" + value + eol;
    updated = text.substr(0, insert_at) + added + text.substr(insert_at);
  }
  if (state == FileState::kRead && updated == text) return true;

  return Files().Replace(path, updated);
}
