// Where the terminal dialog's controls stand on a screen of a given size: the
// arrangement of the dialog template (file row, progress row, elapsed and
// retry texts, status lines, the buttons), spread over the screen's height
// and stretched to its width. Also the places of the message box and the
// file chooser.
#pragma once
#include <string>
#include <vector>

struct Rect {
  int y = 0, x = 0, h = 0, w = 0;
  int Bottom() const { return y + h; }  // first row below
  int Right() const { return x + w; }   // first column to the right
  bool Contains(const Rect& r) const {
    return r.y >= y && r.x >= x && r.Bottom() <= Bottom() && r.Right() <= Right();
  }
  bool Overlaps(const Rect& r) const {
    return r.y < Bottom() && y < r.Bottom() && r.x < Right() && x < r.Right();
  }
};

// The smallest screen the dialog is drawn on; below it a notice asks for a
// larger window.
constexpr int kMinCols = 60;
constexpr int kMinRows = 14;

struct DialogLayout {
  bool fits = false;  // false below kMinCols x kMinRows: only `frame` is set
  Rect frame;         // the whole screen, with its border
  // Labels and controls. fileBox and bar include their bracket columns;
  // the buttons are as wide as their drawn caption, e.g. "[ Start ]".
  Rect fileLabel, fileBox, browse;
  Rect progressLabel, bar, percent;
  Rect elapsed, retryStats;
  Rect status;  // at least two lines
  Rect start, stop, quit;

  // Every control and label, for checks that walk them all.
  std::vector<Rect> All() const;
};

DialogLayout LayoutDialog(int rows, int cols);

// Drawn captions of the buttons, brackets included ("[ Start ]").
std::string ButtonCaption(const char* label, bool focused, bool enabled);

// A message box of `lines` text lines (already wrapped to at most
// `textWidth` columns) and a button row `buttonsWidth` wide, centred on the
// screen: border, a blank row, the text, a blank row, the buttons, border.
Rect LayoutMessageBox(int rows, int cols, int textWidth, int lines, int buttonsWidth);
// The widest text line a message box may have on a screen `cols` wide.
int MessageBoxTextLimit(int cols);

// The file chooser: most of the screen, centred, at most 100 columns wide.
struct ChooserLayout {
  Rect frame;
  Rect folder;   // "Look in:" line
  Rect list;     // the entries
  Rect name;     // "File name:" line
  Rect filter;   // "Files of type:" line
  Rect hint;     // keys, or the last error
};
ChooserLayout LayoutChooser(int rows, int cols);
