#include "app/term/text_util.h"

#include <locale.h>

#include <algorithm>
#include <cwchar>

namespace {

// The widths come from the C library (mbrtowc, then wcwidth) under a UTF-8
// locale of their own rather than from a table of ours: ncursesw advances
// its cursor by the same wcwidth, so the columns counted here are the ones
// curses draws, whatever Unicode version the system has. The locale is made
// once and used only for these calls, so the measure is the same whatever
// locale the program (or a test) runs in.
locale_t Utf8Locale() {
  static const locale_t loc = [] {
    for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
      locale_t l = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(0));
      if (l != static_cast<locale_t>(0)) return l;
    }
    return static_cast<locale_t>(0);
  }();
  return loc;
}

}  // namespace

TextChar CharAt(const std::string& text, size_t i) {
  const unsigned char c = static_cast<unsigned char>(text[i]);
  if (c < 0x80) return {1, 1, c >= 0x20 && c != 0x7F};
  const locale_t loc = Utf8Locale();
  if (loc == static_cast<locale_t>(0)) {
    // No UTF-8 locale on this system: a character per lead byte, one column each.
    size_t n = 1;
    while (i + n < text.size() && IsUtf8Continuation(static_cast<unsigned char>(text[i + n]))) ++n;
    return {n, 1, !IsUtf8Continuation(c)};
  }
  const locale_t old = uselocale(loc);
  mbstate_t state{};
  wchar_t wc = 0;
  const size_t n = mbrtowc(&wc, text.data() + i, text.size() - i, &state);
  const bool decoded = n != static_cast<size_t>(-1) && n != static_cast<size_t>(-2) && n != 0;
  const int width = decoded ? wcwidth(wc) : -1;
  uselocale(old);
  if (!decoded) return {1, 1, false};
  if (width < 0) return {n, 1, false};
  return {n, width, true};
}

int TextColumns(const std::string& text) {
  int n = 0;
  for (size_t i = 0; i < text.size();) {
    const TextChar ch = CharAt(text, i);
    n += ch.columns;
    i += ch.bytes;
  }
  return n;
}

std::string ClipColumns(const std::string& text, int columns) {
  if (columns <= 0) return std::string();
  int n = 0;
  size_t i = 0;
  while (i < text.size()) {
    const TextChar ch = CharAt(text, i);
    // Combining characters after the last one that fits stay with it.
    if (n + ch.columns > columns) break;
    n += ch.columns;
    i += ch.bytes;
  }
  return text.substr(0, i);
}

std::string PadColumns(const std::string& text, int columns) {
  std::string out = ClipColumns(text, columns);
  out.append(static_cast<size_t>(std::max(0, columns - TextColumns(out))), ' ');
  return out;
}

std::string ClipColumnsLeft(const std::string& text, int columns) {
  int rest = TextColumns(text);
  if (rest <= columns) return text;
  if (columns <= 3) return std::string(static_cast<size_t>(columns > 0 ? columns : 0), '.');
  size_t i = 0;
  // Whole characters go until the rest fits; a combining one does not begin the rest.
  while (i < text.size()) {
    const TextChar ch = CharAt(text, i);
    if (rest <= columns - 3 && ch.columns > 0) break;
    rest -= ch.columns;
    i += ch.bytes;
  }
  return "..." + text.substr(i);
}

std::string DisplayText(const std::string& text, bool utf8) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const TextChar ch = CharAt(text, i);
    if (!ch.printable)
      out.push_back('?');
    else if (utf8 || ch.bytes == 1)
      out.append(text, i, ch.bytes);
    else
      out.append(static_cast<size_t>(ch.columns), '?');
    i += ch.bytes;
  }
  return out;
}

namespace {

// Appends the lines of one paragraph (no "\n" inside) to `out`.
void WrapParagraph(const std::string& para, int width, std::vector<std::string>* out) {
  std::string rest = para;
  const size_t before = out->size();
  while (TextColumns(rest) > width) {
    std::string head = ClipColumns(rest, width);
    // A wide character in a line one column wide: it goes on a line of its own.
    if (head.empty()) head = rest.substr(0, CharAt(rest, 0).bytes);
    size_t cut = head.size();
    // A blank right after the head ends the line as well as one inside it.
    size_t blank = rest[cut] == ' ' ? cut : head.rfind(' ');
    if (blank != std::string::npos && blank > 0) {
      out->push_back(rest.substr(0, blank));
      size_t next = rest.find_first_not_of(' ', blank);
      rest = next == std::string::npos ? std::string() : rest.substr(next);
    } else {
      out->push_back(head);
      rest = rest.substr(cut);
    }
  }
  // An empty paragraph is an empty line; nothing left of a long one is none.
  if (!rest.empty() || out->size() == before) out->push_back(rest);
}

}  // namespace

std::vector<std::string> WrapText(const std::string& text, int width, int maxLines) {
  std::vector<std::string> lines;
  if (text.empty() || width <= 0 || maxLines <= 0) return lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t nl = text.find('\n', start);
    std::string para = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
    if (!para.empty() && para.back() == '\r') para.pop_back();
    WrapParagraph(para, width, &lines);
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  if (static_cast<int>(lines.size()) > maxLines) lines.resize(static_cast<size_t>(maxLines));
  return lines;
}

std::vector<std::string> WrapToFit(const std::string& text, int width, int maxLines) {
  std::vector<std::string> lines = WrapText(text, width, maxLines + 1);
  if (static_cast<int>(lines.size()) <= maxLines || text.find('\n') == std::string::npos)
    return WrapText(text, width, maxLines);
  std::string flowing = text;
  for (char& c : flowing)
    if (c == '\n' || c == '\r') c = ' ';
  return WrapText(flowing, width, maxLines);
}

std::vector<std::string> FitBoxText(const std::string& text, int width, int maxLines) {
  if (maxLines <= 0) return {};
  const int all = static_cast<int>(text.size()) + 1;  // more lines than any wrap can make
  std::vector<std::string> lines = WrapText(text, width, all);
  if (static_cast<int>(lines.size()) <= maxLines) return lines;
  std::string flowing = text;
  for (char& c : flowing)
    if (c == '\n' || c == '\r') c = ' ';
  lines = WrapText(flowing, width, all);
  if (static_cast<int>(lines.size()) <= maxLines) return lines;
  lines.erase(lines.begin(), lines.end() - maxLines);
  return lines;
}
