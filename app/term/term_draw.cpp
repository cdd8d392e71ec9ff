#include "app/term/term_draw.h"

#include <curses.h>

#include <algorithm>
#include <vector>

#include "app/term/text_util.h"

namespace {

// Text at (y, x), cut to `width` columns as the terminal counts them.
void Put(int y, int x, const std::string& text, int width, attr_t attr = A_NORMAL) {
  if (width <= 0) return;
  attron(attr);
  mvaddstr(y, x, ClipColumns(text, width).c_str());
  attroff(attr);
}

// Blanks a rectangle (the ground of a box drawn over the dialog).
void Clear(const Rect& r) {
  for (int y = r.y; y < r.Bottom(); ++y) mvhline(y, r.x, ' ', r.w);
}

void Frame(const Rect& r, const std::string& title, bool utf8) {
  if (r.w < 2 || r.h < 2) return;
  mvhline(r.y, r.x + 1, ACS_HLINE, r.w - 2);
  mvhline(r.Bottom() - 1, r.x + 1, ACS_HLINE, r.w - 2);
  mvvline(r.y + 1, r.x, ACS_VLINE, r.h - 2);
  mvvline(r.y + 1, r.Right() - 1, ACS_VLINE, r.h - 2);
  mvaddch(r.y, r.x, ACS_ULCORNER);
  mvaddch(r.y, r.Right() - 1, ACS_URCORNER);
  mvaddch(r.Bottom() - 1, r.x, ACS_LLCORNER);
  mvaddch(r.Bottom() - 1, r.Right() - 1, ACS_LRCORNER);
  if (!title.empty()) Put(r.y, r.x + 1, DisplayText(title, utf8) + " ", r.w - 2, A_BOLD);
}

// A label with its mnemonic letter (at `mnemonic`, or none when < 0) underlined.
void Label(int y, int x, const std::string& text, int mnemonic, attr_t attr = A_NORMAL) {
  Put(y, x, text, static_cast<int>(text.size()), attr);
  if (mnemonic >= 0 && mnemonic < static_cast<int>(text.size()))
    mvaddch(y, x + mnemonic, static_cast<chtype>(static_cast<unsigned char>(text[mnemonic])) | attr | A_UNDERLINE);
}

// A button: "[ Start ]", "[>Start<]" with the focus, "( Start )" disabled.
void Button(const Rect& r, const char* label, int mnemonic, bool focused, bool enabled) {
  std::string caption = ButtonCaption(label, focused && enabled, enabled);
  attr_t attr = !enabled ? A_DIM : focused ? (A_REVERSE | A_BOLD) : A_NORMAL;
  Label(r.y, r.x, caption, enabled ? mnemonic + 2 : -1, attr);
}

void ProgressBar(const Rect& r, int percent, bool utf8) {
  int cells = r.w - 2;
  if (cells <= 0) return;
  std::string bar;
  if (utf8) {
    static const char* const kEighths[] = {"", "\u258F", "\u258E", "\u258D", "\u258C",
                                           "\u258B", "\u258A", "\u2589"};
    int eighths = percent * cells * 8 / 100;
    int full = eighths / 8;
    for (int i = 0; i < full; ++i) bar += "\u2588";
    bar += kEighths[eighths % 8];
    bar += std::string(static_cast<size_t>(cells - full - (eighths % 8 ? 1 : 0)), ' ');
  } else {
    int full = percent * cells / 100;
    bar = std::string(static_cast<size_t>(full), '#') + std::string(static_cast<size_t>(cells - full), ' ');
  }
  Put(r.y, r.x, "[" + bar + "]", r.w);
}

}  // namespace

CursorSpot DrawDialog(const DialogLayout& l, const DialogState& s, const std::string& fileView,
                      int fileCursor, bool active, bool utf8) {
  CursorSpot cursor;
  Frame(l.frame, s.title, utf8);
  auto focused = [&](int id) { return active && s.focus == id; };

  bool fileOn = s.IsEnabled(IDC_FILENAME);
  Label(l.fileLabel.y, l.fileLabel.x, "File Name:", 0, fileOn ? A_NORMAL : A_DIM);
  const Rect& fb = l.fileBox;
  attr_t bracket = !fileOn ? A_DIM : focused(IDC_FILENAME) ? A_BOLD : A_NORMAL;
  Put(fb.y, fb.x, fileOn ? "[" : "(", 1, bracket);
  std::string shown = PadColumns(DisplayText(fileView, utf8), fb.w - 2);
  Put(fb.y, fb.x + 1, shown, fb.w - 2, fileOn ? A_UNDERLINE : A_DIM);
  Put(fb.y, fb.Right() - 1, fileOn ? "]" : ")", 1, bracket);
  if (focused(IDC_FILENAME) && fileOn) {
    cursor.visible = true;
    cursor.y = fb.y;
    cursor.x = fb.x + 1 + fileCursor;
  }
  Button(l.browse, "Browse...", 0, focused(IDC_BROWSE), s.IsEnabled(IDC_BROWSE));

  Label(l.progressLabel.y, l.progressLabel.x, "Progress:", -1);
  ProgressBar(l.bar, s.progress, utf8);
  Put(l.percent.y, l.percent.x, DisplayText(s.Text(IDC_PERCENT), utf8), l.percent.w);
  Put(l.elapsed.y, l.elapsed.x, DisplayText(s.Text(IDC_ELAPSED), utf8), l.elapsed.w);
  Put(l.retryStats.y, l.retryStats.x, DisplayText(s.Text(IDC_RETRY_STATS), utf8), l.retryStats.w);

  std::vector<std::string> lines = WrapToFit(s.Text(IDC_STATUS), l.status.w, l.status.h);
  for (size_t i = 0; i < lines.size(); ++i)
    Put(l.status.y + static_cast<int>(i), l.status.x, DisplayText(lines[i], utf8), l.status.w);

  Button(l.start, "Start", 0, focused(IDC_START), s.IsEnabled(IDC_START));
  Button(l.stop, "Stop", 1, focused(IDC_STOP_DL), s.IsEnabled(IDC_STOP_DL));
  Button(l.quit, "Quit", 0, focused(ID_QUIT), s.IsEnabled(ID_QUIT));
  if (!cursor.visible && active) {
    // Terminals that cannot hide the cursor show it on the focused button.
    const Rect* at = s.focus == IDC_BROWSE ? &l.browse : s.focus == IDC_START ? &l.start
                     : s.focus == IDC_STOP_DL ? &l.stop : s.focus == ID_QUIT ? &l.quit : &l.bar;
    cursor.y = at->y;
    cursor.x = at->x + 1;
  }
  return cursor;
}

void DrawTooSmall(int rows, int cols) {
  const std::string text = "Please enlarge the window to at least " + std::to_string(kMinCols) +
                           "x" + std::to_string(kMinRows) + ".";
  std::vector<std::string> lines = WrapText(text, std::max(1, cols), rows);
  int y = std::max(0, (rows - static_cast<int>(lines.size())) / 2);
  for (size_t i = 0; i < lines.size(); ++i) Put(y + static_cast<int>(i), 0, lines[i], cols);
}

CursorSpot DrawMessageBox(const MessageBoxModel& box, int rows, int cols, bool utf8) {
  int limit = MessageBoxTextLimit(cols);
  // Frame, a blank row, the buttons and the frame take five rows.
  std::vector<std::string> lines = FitBoxText(box.text(), limit, std::max(1, rows - 5));
  for (std::string& line : lines) line = DisplayText(line, utf8);
  int textW = 0;
  for (const std::string& line : lines) textW = std::max(textW, TextColumns(line));
  std::vector<std::string> captions;
  int buttonsW = 0;
  for (size_t i = 0; i < box.buttons().size(); ++i) {
    captions.push_back(ButtonCaption(box.buttons()[i], static_cast<int>(i) == box.focus(), true));
    buttonsW += static_cast<int>(captions.back().size()) + (i ? 2 : 0);
  }
  Rect r = LayoutMessageBox(rows, cols, textW, static_cast<int>(lines.size()), buttonsW);
  Clear(r);
  Frame(r, " " + box.caption(), utf8);
  int maxLines = std::max(0, r.h - 5);
  for (int i = 0; i < static_cast<int>(lines.size()) && i < maxLines; ++i)
    Put(r.y + 2 + i, r.x + 2, lines[static_cast<size_t>(i)], r.w - 4);

  CursorSpot cursor;
  int x = r.x + (r.w - buttonsW) / 2;
  int y = r.Bottom() - 2;
  for (size_t i = 0; i < captions.size(); ++i) {
    bool f = static_cast<int>(i) == box.focus();
    Label(y, x, captions[i], 2, f ? (A_REVERSE | A_BOLD) : A_NORMAL);
    if (f) {
      cursor.y = y;
      cursor.x = x + 1;
    }
    x += static_cast<int>(captions[i].size()) + 2;
  }
  return cursor;
}

CursorSpot DrawChooser(ChooserModel& c, int rows, int cols, bool utf8) {
  ChooserLayout l = LayoutChooser(rows, cols);
  Clear(l.frame);
  Frame(l.frame, " Choose a firmware image", utf8);
  Put(l.folder.y, l.folder.x, "Look in: " + ClipColumnsLeft(DisplayText(c.dir(), utf8), l.folder.w - 9),
      l.folder.w);

  const auto& entries = c.entries();
  int top = c.ScrollTop(l.list.h);
  if (entries.empty()) Put(l.list.y, l.list.x + 2, "(no matching files)", l.list.w - 2, A_DIM);
  for (int row = 0; row < l.list.h; ++row) {
    int i = top + row;
    if (i >= static_cast<int>(entries.size())) break;
    bool sel = i == c.selected();
    std::string line = ChooserModel::Row(entries[static_cast<size_t>(i)], sel, l.list.w, utf8);
    Put(l.list.y + row, l.list.x, line, l.list.w, sel ? A_REVERSE : A_NORMAL);
  }
  if (top + l.list.h < static_cast<int>(entries.size()))
    Put(l.list.Bottom(), l.list.x + 2, "(more below)", l.list.w - 2, A_DIM);

  const std::string nameLabel = "File name: ";
  int fieldX = l.name.x + static_cast<int>(nameLabel.size());
  int fieldW = l.name.w - static_cast<int>(nameLabel.size());
  Put(l.name.y, l.name.x, nameLabel, l.name.w);
  int col = 0;
  std::string view = PadColumns(DisplayText(c.name().View(fieldW - 2, &col), utf8), fieldW - 2);
  Put(l.name.y, fieldX, "[", 1, A_BOLD);
  Put(l.name.y, fieldX + 1, view, fieldW - 2, A_UNDERLINE);
  Put(l.name.y, fieldX + fieldW - 1, "]", 1, A_BOLD);
  Put(l.filter.y, l.filter.x,
      std::string("Files of type: ") + ChooserModel::FilterLabel(c.filter()) + "   (Ctrl+T: change)",
      l.filter.w);
  if (!c.error().empty())
    Put(l.hint.y, l.hint.x, DisplayText(c.error(), utf8), l.hint.w, A_BOLD);
  else
    Put(l.hint.y, l.hint.x, "Enter: open folder / choose file   Esc: cancel", l.hint.w, A_DIM);

  CursorSpot cursor;
  cursor.visible = true;
  cursor.y = l.name.y;
  cursor.x = fieldX + 1 + col;
  return cursor;
}
