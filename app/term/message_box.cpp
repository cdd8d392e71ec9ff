#include "app/term/message_box.h"

#include <utility>

MessageBoxModel::MessageBoxModel(std::string text, std::string caption, unsigned type)
    : text_(std::move(text)), caption_(std::move(caption)), type_(type) {
  if (IsYesNoBox(type_)) {
    buttons_ = {"Yes", "No"};
    if (type_ & kMbDefButton2) focus_ = 1;
  } else {
    buttons_ = {"OK"};
  }
}

int MessageBoxModel::AnswerOf(int index) const {
  if (!IsYesNoBox(type_)) return kIdOk;
  return index == 0 ? kIdYes : kIdNo;
}

int MessageBoxModel::HandleKey(const Key& key) {
  int count = static_cast<int>(buttons_.size());
  char letter = 0;
  switch (key.code) {
    case KeyCode::kTab:
    case KeyCode::kRight:
    case KeyCode::kDown: focus_ = (focus_ + 1) % count; return 0;
    case KeyCode::kBackTab:
    case KeyCode::kLeft:
    case KeyCode::kUp: focus_ = (focus_ + count - 1) % count; return 0;
    case KeyCode::kEnter: return AnswerOf(focus_);
    case KeyCode::kEscape: return IsYesNoBox(type_) ? 0 : kIdOk;
    case KeyCode::kAlt: letter = key.ch; break;
    case KeyCode::kText:
      if (key.text == " ") return AnswerOf(focus_);
      if (key.text.size() == 1) letter = key.text[0];
      break;
    default: return 0;
  }
  if (letter >= 'A' && letter <= 'Z') letter = static_cast<char>(letter - 'A' + 'a');
  if (IsYesNoBox(type_)) {
    if (letter == 'y') return kIdYes;
    if (letter == 'n') return kIdNo;
  } else if (letter == 'o') {
    return kIdOk;
  }
  return 0;
}
