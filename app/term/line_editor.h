// One line of editable text with a cursor and a horizontal scroll window:
// the file box, and the name line of the file chooser. The cursor moves by
// whole characters; the window is measured in the columns the characters
// take on the screen (a wide one two, a combining one none).
#pragma once
#include <cstddef>
#include <string>

class LineEditor {
 public:
  // `maxBytes`: the longest text kept (the file box holds a 260-byte path).
  explicit LineEditor(size_t maxBytes = 259) : max_(maxBytes) {}

  // Replaces the text (cut to the limit at a character boundary) and puts
  // the cursor at its end, so that a long path shows its file name.
  void SetText(const std::string& text);
  const std::string& text() const { return text_; }
  // Byte offset of the cursor.
  size_t cursor() const { return cursor_; }

  // Inserts at the cursor. Control characters (line ends of a paste among
  // them) are dropped; characters that would pass the limit are dropped
  // whole. True if the text changed.
  bool Insert(const std::string& s);
  bool Backspace();
  bool Delete();
  // Deletes from the start of the line to the cursor / from the cursor to the end.
  bool DeleteToStart();
  bool DeleteToEnd();
  void Left();
  void Right();
  void Home() { cursor_ = 0; }
  void End() { cursor_ = text_.size(); }

  // The part of the text a box of `width` columns shows. The window moves
  // only as far as needed to keep the cursor inside it, and never leaves
  // blank columns on the right while text is hidden on the left.
  // `*cursorColumn` receives the cursor's column inside the window.
  std::string View(int width, int* cursorColumn);

 private:
  std::string text_;
  size_t cursor_ = 0;  // bytes
  size_t scroll_ = 0;  // characters hidden on the left
  size_t max_;
};
