// A message box of the terminal dialog, without the drawing: the text, the
// caption, the buttons (OK, or Yes and No) and which of them has the focus.
// It takes every key until it is answered.
#pragma once
#include <string>
#include <vector>

#include "app/dialog_api.h"
#include "app/term/keys.h"

class MessageBoxModel {
 public:
  MessageBoxModel(std::string text, std::string caption, unsigned type);

  // Applies one key; returns the answer (kIdOk, kIdYes, kIdNo) once given,
  // else 0. Tab, Shift+Tab and the arrows move between the buttons; Enter
  // or Space presses the focused one; Y and N (with or without Alt) answer
  // a Yes/No box and O an OK box; Escape closes an OK box and does nothing
  // in a Yes/No box, which has no Cancel.
  int HandleKey(const Key& key);

  const std::string& text() const { return text_; }
  const std::string& caption() const { return caption_; }
  // Button labels in order, and the focused one's index.
  const std::vector<const char*>& buttons() const { return buttons_; }
  int focus() const { return focus_; }
  // The answer a box gets when it cannot be asked (no terminal, or the
  // dialog went away): OK, or No for a question.
  static int DefaultAnswer(unsigned type) { return IsYesNoBox(type) ? kIdNo : kIdOk; }

 private:
  int AnswerOf(int index) const;

  std::string text_;
  std::string caption_;
  unsigned type_;
  std::vector<const char*> buttons_;
  int focus_ = 0;  // the default button: the first, or No with kMbDefButton2
};
