// What the terminal dialog shows: the state of every control, kept apart from
// the drawing so that the worker's updates and the keys can be applied and
// tested without a terminal.
#pragma once
#include <map>
#include <string>

#include "app/term/keys.h"
#include "app/term/line_editor.h"
#include "res/resource.h"

// The controls that take the focus, in tab order.
constexpr int kTabOrder[] = {IDC_FILENAME, IDC_BROWSE, IDC_START, IDC_STOP_DL, ID_QUIT};
// Where the focus rests when its control is disabled (Start, as a download
// begins): the progress bar, on which Enter and Space do nothing. Tab leaves it.
constexpr int kRestFocus = IDC_PROGRESS;

struct DialogState {
  std::string title;
  // Longer than any path a download takes: a longer paste stays whole and Start
  // refuses it, rather than cutting it to the name of another file.
  LineEditor file{4095};
  // Texts of the static controls (percentage, elapsed, status, retry stats).
  std::map<int, std::string> texts;
  // Controls listed here are disabled; all others are enabled.
  std::map<int, bool> disabled;
  int progress = 0;  // 0..100
  int focus = IDC_FILENAME;

  bool IsEnabled(int id) const;
  std::string Text(int id) const;
};

// What a key asks of the dialog.
struct DialogAction {
  enum Kind { kNone, kCommand, kClose, kRedraw } kind = kNone;
  int id = 0;  // kCommand: the control id
};

// Applies `key` to the focus and the file box and says which command, if
// any, it gives:
//  - Tab / Shift+Tab move through kTabOrder, skipping disabled controls;
//    on a button (or at kRestFocus) the arrow keys do the same;
//  - Enter or Space on a button press it; Enter in the file box or at
//    kRestFocus does nothing;
//  - Alt+letter, and the plain letter while the focus is not in the file box,
//    press the button whose mnemonic it is (F goes to the file box);
//  - the file box edits with the arrows, Home, End, Backspace, Delete,
//    Ctrl+A/E/U/K, typed characters and pastes;
//  - Escape does nothing; Ctrl+C is the close box; Ctrl+L redraws.
DialogAction HandleDialogKey(DialogState* s, const Key& key);

// Moves the focus off a control that has been disabled to kRestFocus, so
// that a key meant for the disabled control presses nothing else.
void FixFocus(DialogState* s);

// The control whose mnemonic `letter` is (lower case); 0 if none.
int MnemonicTarget(char letter);
