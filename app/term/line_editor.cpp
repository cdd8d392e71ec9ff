#include "app/term/line_editor.h"

#include <algorithm>
#include <vector>

#include "app/term/text_util.h"

void LineEditor::SetText(const std::string& text) {
  text_.clear();
  cursor_ = 0;
  scroll_ = 0;
  Insert(text);
}

bool LineEditor::Insert(const std::string& s) {
  std::string add;
  for (size_t i = 0; i < s.size();) {
    size_t n = CharAt(s, i).bytes;
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x20 && c != 0x7F) {
      if (text_.size() + add.size() + n > max_) break;
      add.append(s, i, n);
    }
    i += n;
  }
  if (add.empty()) return false;
  text_.insert(cursor_, add);
  cursor_ += add.size();
  return true;
}

bool LineEditor::Backspace() {
  if (cursor_ == 0) return false;
  size_t end = cursor_;
  Left();
  text_.erase(cursor_, end - cursor_);
  return true;
}

bool LineEditor::Delete() {
  if (cursor_ >= text_.size()) return false;
  text_.erase(cursor_, CharAt(text_, cursor_).bytes);
  return true;
}

bool LineEditor::DeleteToStart() {
  if (cursor_ == 0) return false;
  text_.erase(0, cursor_);
  cursor_ = 0;
  return true;
}

bool LineEditor::DeleteToEnd() {
  if (cursor_ >= text_.size()) return false;
  text_.erase(cursor_);
  return true;
}

void LineEditor::Left() {
  size_t prev = 0;
  for (size_t i = 0; i < cursor_; i += CharAt(text_, i).bytes) prev = i;
  cursor_ = prev;
}

void LineEditor::Right() {
  if (cursor_ < text_.size()) cursor_ += CharAt(text_, cursor_).bytes;
}

std::string LineEditor::View(int width, int* cursorColumn) {
  if (width <= 0) {
    if (cursorColumn) *cursorColumn = 0;
    return std::string();
  }
  // Where each character begins and the columns it takes.
  std::vector<size_t> starts;
  std::vector<int> columns;
  size_t cur = 0;
  for (size_t i = 0; i < text_.size();) {
    if (i < cursor_) cur = starts.size() + 1;
    const TextChar ch = CharAt(text_, i);
    starts.push_back(i);
    columns.push_back(ch.columns);
    i += ch.bytes;
  }
  const size_t count = starts.size();
  starts.push_back(text_.size());
  auto span = [&](size_t from, size_t to) {
    int n = 0;
    for (size_t k = from; k < to; ++k) n += columns[k];
    return n;
  };
  // The cursor needs the cell it stands on: a wide character's two, and one
  // behind the last character.
  const int cell = cur < count ? std::max(1, columns[cur]) : 1;
  if (cur < scroll_) scroll_ = cur;
  while (scroll_ < cur && span(scroll_, cur) + cell > width) ++scroll_;
  while (scroll_ > 0 && span(scroll_ - 1, count) + 1 <= width) --scroll_;
  if (cursorColumn) *cursorColumn = span(scroll_, cur);
  return ClipColumns(text_.substr(starts[scroll_]), width);
}
