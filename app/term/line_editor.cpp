#include "app/term/line_editor.h"

#include "app/term/text_util.h"

namespace {

// Length in bytes of the UTF-8 character that starts with `lead`; a stray
// byte counts as a character of its own.
size_t CharLength(const std::string& s, size_t i) {
  size_t n = 1;
  while (i + n < s.size() && IsUtf8Continuation(static_cast<unsigned char>(s[i + n]))) ++n;
  return n;
}

}  // namespace

void LineEditor::SetText(const std::string& text) {
  text_.clear();
  cursor_ = 0;
  scroll_ = 0;
  Insert(text);
}

bool LineEditor::Insert(const std::string& s) {
  std::string add;
  for (size_t i = 0; i < s.size();) {
    size_t n = CharLength(s, i);
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
  text_.erase(cursor_, CharLength(text_, cursor_));
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
  while (cursor_ > 0) {
    --cursor_;
    if (!IsUtf8Continuation(static_cast<unsigned char>(text_[cursor_]))) break;
  }
}

void LineEditor::Right() {
  if (cursor_ < text_.size()) cursor_ += CharLength(text_, cursor_);
}

size_t LineEditor::CharIndex(size_t byteOffset) const {
  size_t n = 0;
  for (size_t i = 0; i < byteOffset && i < text_.size(); ++i)
    if (!IsUtf8Continuation(static_cast<unsigned char>(text_[i]))) ++n;
  return n;
}

size_t LineEditor::ByteOffset(size_t charIndex) const {
  size_t n = 0;
  for (size_t i = 0; i < text_.size(); ++i) {
    if (IsUtf8Continuation(static_cast<unsigned char>(text_[i]))) continue;
    if (n++ == charIndex) return i;
  }
  return text_.size();
}

std::string LineEditor::View(int width, int* cursorColumn) {
  if (width <= 0) {
    if (cursorColumn) *cursorColumn = 0;
    return std::string();
  }
  size_t w = static_cast<size_t>(width);
  size_t cur = CharIndex(cursor_);
  size_t count = CharCount();
  // The cursor behind the last character needs a column of its own.
  size_t needed = count + 1;
  if (scroll_ + w > needed) scroll_ = needed > w ? needed - w : 0;
  if (cur < scroll_) scroll_ = cur;
  if (cur >= scroll_ + w) scroll_ = cur - w + 1;
  if (cursorColumn) *cursorColumn = static_cast<int>(cur - scroll_);
  return ClipColumns(text_.substr(ByteOffset(scroll_)), width);
}
