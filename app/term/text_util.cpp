#include "app/term/text_util.h"

int TextColumns(const std::string& text) {
  int n = 0;
  for (unsigned char c : text)
    if (!IsUtf8Continuation(c)) ++n;
  return n;
}

std::string ClipColumns(const std::string& text, int columns) {
  if (columns <= 0) return std::string();
  int n = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsUtf8Continuation(static_cast<unsigned char>(text[i]))) continue;
    if (n == columns) return text.substr(0, i);
    ++n;
  }
  return text;
}

std::string ClipColumnsLeft(const std::string& text, int columns) {
  int total = TextColumns(text);
  if (total <= columns) return text;
  if (columns <= 3) return std::string(static_cast<size_t>(columns > 0 ? columns : 0), '.');
  int skip = total - (columns - 3);
  size_t i = 0;
  for (int n = 0; i < text.size(); ++i) {
    if (IsUtf8Continuation(static_cast<unsigned char>(text[i]))) continue;
    if (n++ == skip) break;
  }
  return "..." + text.substr(i);
}

std::string DisplayText(const std::string& text, bool utf8) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F) {
      out.push_back('?');
    } else if (c > 0x7F && !utf8) {
      // One '?' for each character, as TextColumns counts them.
      if (!IsUtf8Continuation(c)) out.push_back('?');
    } else {
      out.push_back(ch);
    }
  }
  return out;
}

namespace {

// Appends the lines of one paragraph (no "\n" inside) to `out`.
void WrapParagraph(const std::string& para, int width, std::vector<std::string>* out) {
  std::string rest = para;
  while (TextColumns(rest) > width) {
    std::string head = ClipColumns(rest, width);
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
  out->push_back(rest);
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
