#include "app/term/layout.h"

#include <algorithm>

namespace {

// The dialog template measures 357 x 167 dialog units; rows and columns are
// placed in proportion to it. Beyond kMaxContentRows the arrangement stops
// growing taller and is centred, so that a large window does not strew the
// controls over its whole height.
constexpr int kTemplateW = 357;
constexpr int kTemplateH = 167;
constexpr int kMaxContentRows = 26;
// Template rows of the control lines (dialog units).
constexpr int kFileY = 19, kProgressY = 54, kElapsedY = 82, kStatusY = 108, kButtonsY = 142;
// Template centres of the buttons (Stop sits halfway between Start and Quit).
constexpr int kStartCx = 111, kStopCx = 179, kQuitCx = 247;

// The longest status text (its 260-byte buffer), which the status lines
// must hold at any window size.
constexpr int kLongestStatus = 259;

constexpr int kMargin = 2;      // columns between the border and the controls
constexpr int kLabelCols = 12;  // "File Name:" / "Progress:" and a gap
constexpr int kRightCols = 14;  // "[ Browse... ]" / "100% completed"

Rect R(int y, int x, int h, int w) {
  Rect r;
  r.y = y;
  r.x = x;
  r.h = h;
  r.w = w;
  return r;
}

int Scale(int v, int units, int cells) { return (v * cells + units / 2) / units; }

}  // namespace

std::vector<Rect> DialogLayout::All() const {
  return {fileLabel, fileBox, browse, progressLabel, bar, percent, elapsed, retryStats,
          status, start, stop, quit};
}

std::string ButtonCaption(const char* label, bool focused, bool enabled) {
  if (!enabled) return std::string("( ") + label + " )";
  if (focused) return std::string("[>") + label + "<]";
  return std::string("[ ") + label + " ]";
}

DialogLayout LayoutDialog(int rows, int cols) {
  DialogLayout l;
  l.frame = R(0, 0, rows, cols);
  if (rows < kMinRows || cols < kMinCols) return l;
  l.fits = true;

  int innerH = rows - 2;
  int contentH = std::min(innerH, kMaxContentRows);
  int top = 1 + (innerH - contentH) / 2;
  auto row = [&](int unitsY) { return top + Scale(unitsY, kTemplateH, contentH); };

  int left = kMargin;
  int right = cols - kMargin;  // first column past the controls
  int fieldX = left + kLabelCols;
  int rightX = right - kRightCols;
  int fieldW = rightX - 1 - fieldX;

  int fileRow = row(kFileY);
  l.fileLabel = R(fileRow, left, 1, 10);
  l.fileBox = R(fileRow, fieldX, 1, fieldW);
  l.browse = R(fileRow, rightX, 1, static_cast<int>(ButtonCaption("Browse...", false, true).size()));

  int progressRow = row(kProgressY);
  int elapsedRow = row(kElapsedY);
  int buttonsRow = row(kButtonsY);
  int statusRow = std::max(row(kStatusY), elapsedRow + 2);
  // One blank row between the status lines and the buttons when there is room.
  int statusH = std::max(2, buttonsRow - 1 - statusRow);
  // The status lines must hold the longest text, wrapped (a word that does
  // not fit moves down, hence the extra line). Where the proportional rows
  // leave too few, blank rows go, one kind after another: above the status,
  // above the buttons, below the buttons, then between the top rows.
  const int statusW = right - left;
  const int wanted = (kLongestStatus + statusW - 1) / statusW + 1;
  const int lastRow = rows - 2;
  for (int step = 0; statusH < wanted && step < 4; ++step) {
    switch (step) {
      case 0: statusRow = elapsedRow + 1; break;
      case 1: break;  // the blank row above the buttons
      case 2: buttonsRow = lastRow; break;
      case 3:
        progressRow = fileRow + 2;
        elapsedRow = progressRow + 1;
        statusRow = elapsedRow + 1;
        break;
    }
    statusH = buttonsRow - statusRow - (step == 0 ? 1 : 0);
  }
  statusH = std::max(2, statusH);
  if (statusRow + statusH > buttonsRow) buttonsRow = statusRow + statusH;
  l.status = R(statusRow, left, statusH, statusW);

  l.progressLabel = R(progressRow, left, 1, 9);
  l.bar = R(progressRow, fieldX, 1, fieldW);
  l.percent = R(progressRow, rightX, 1, kRightCols);
  int half = (right - left) / 2;
  l.elapsed = R(elapsedRow, left, 1, half - 1);
  l.retryStats = R(elapsedRow, left + half, 1, right - left - half);

  int innerW = right - left;
  auto button = [&](int cx, const char* label) {
    int w = static_cast<int>(ButtonCaption(label, false, true).size());
    return R(buttonsRow, left + Scale(cx, kTemplateW, innerW) - w / 2, 1, w);
  };
  l.start = button(kStartCx, "Start");
  l.stop = button(kStopCx, "Stop");
  l.quit = button(kQuitCx, "Quit");
  return l;
}

int MessageBoxTextLimit(int cols) { return std::max(10, std::min(cols - 8, 72)); }

Rect LayoutMessageBox(int rows, int cols, int textWidth, int lines, int buttonsWidth) {
  int w = std::max({textWidth, buttonsWidth, 20}) + 4;
  w = std::min(w, cols);
  int h = std::min(lines + 5, rows);
  return R((rows - h) / 2, (cols - w) / 2, h, w);
}

ChooserLayout LayoutChooser(int rows, int cols) {
  ChooserLayout c;
  int w = std::min(cols - 2, 100);
  int h = rows - 2;
  c.frame = R((rows - h) / 2, (cols - w) / 2, h, w);
  int x = c.frame.x + 2;
  int iw = w - 4;
  int y = c.frame.y + 1;
  int bottom = c.frame.Bottom() - 1;  // border row
  c.folder = R(y, x, 1, iw);
  c.hint = R(bottom - 1, x, 1, iw);
  c.filter = R(bottom - 2, x, 1, iw);
  c.name = R(bottom - 3, x, 1, iw);
  c.list = R(y + 2, x, std::max(1, bottom - 4 - (y + 2)), iw);
  return c;
}
