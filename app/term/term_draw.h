// Drawing of the terminal dialog, its message boxes and its file chooser
// with ncurses, on stdscr. Everything here runs on the UI thread only.
#pragma once
#include <string>

#include "app/term/chooser.h"
#include "app/term/dialog_state.h"
#include "app/term/layout.h"
#include "app/term/message_box.h"

// Where the terminal cursor belongs after drawing; hidden when `visible` is false.
struct CursorSpot {
  bool visible = false;
  int y = 0, x = 0;
};

// The dialog from a state snapshot. `fileView` is the visible part of the
// file box and `fileCursor` the cursor's column in it. `active`: no box or
// chooser lies over the dialog, so the focus is shown.
CursorSpot DrawDialog(const DialogLayout& l, const DialogState& s, const std::string& fileView,
                      int fileCursor, bool active, bool utf8);
// The notice shown instead of the dialog on a screen below the minimum size.
void DrawTooSmall(int rows, int cols);
CursorSpot DrawMessageBox(const MessageBoxModel& box, int rows, int cols, bool utf8);
CursorSpot DrawChooser(ChooserModel& chooser, int rows, int cols, bool utf8);
