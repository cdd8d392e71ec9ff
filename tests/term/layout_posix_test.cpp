#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/term/chooser.h"
#include "app/term/layout.h"
#include "app/term/line_editor.h"
#include "app/term/text_util.h"

namespace {

struct Size {
  int rows, cols;
};

const Size kSizes[] = {{24, 80}, {kMinRows, kMinCols}, {25, 80}, {30, 100}, {43, 132}, {60, 200},
                       {24, 200}, {80, 60}};

TEST(LayoutTest, ControlsStayInsideTheBorderWithoutOverlap) {
  for (const Size& sz : kSizes) {
    DialogLayout l = LayoutDialog(sz.rows, sz.cols);
    ASSERT_TRUE(l.fits) << sz.rows << "x" << sz.cols;
    Rect inner{1, 1, sz.rows - 2, sz.cols - 2};
    std::vector<Rect> all = l.All();
    for (size_t i = 0; i < all.size(); ++i) {
      EXPECT_TRUE(inner.Contains(all[i])) << sz.rows << "x" << sz.cols << " control " << i;
      EXPECT_GT(all[i].w, 0);
      for (size_t j = i + 1; j < all.size(); ++j)
        EXPECT_FALSE(all[i].Overlaps(all[j])) << sz.rows << "x" << sz.cols << " " << i << "/" << j;
    }
    EXPECT_GE(l.status.h, 2);
  }
}

// The status lines hold the longest texts the worker shows, whole, at every
// size down to the smallest.
TEST(LayoutTest, StatusLinesHoldTheLongestTextsWhole) {
  const std::string texts[] = {
      "Firmware download finished successfully.\nPlease power cycle the system for the new "
      "firmware to take effect.",
      "Firmware download failed, the SAS Expander still runs its previous firmware after 10 "
      "attempts. Please check the image file, then click the start button to retry the download!",
      "Bootloader image download failed, the bootloader was not written. Do not power cycle the "
      "SAS Expander! Click the start button to write it again.",
      // A downloading text that fills its 259 characters.
      ("Downloading from file /data/technician/firmware/" + std::string(180, 'x') +
       ".bin, please wait...").substr(0, 259),
  };
  for (const Size& sz : kSizes) {
    DialogLayout l = LayoutDialog(sz.rows, sz.cols);
    for (const std::string& text : texts) {
      SCOPED_TRACE(std::to_string(sz.rows) + "x" + std::to_string(sz.cols) + " " + text);
      std::vector<std::string> lines = WrapToFit(text, l.status.w, l.status.h);
      std::string shown;
      for (const std::string& line : lines) shown += line;
      size_t chars = 0;
      for (char c : text) chars += c != ' ' && c != '\n';
      size_t shownChars = 0;
      for (char c : shown) shownChars += c != ' ';
      EXPECT_EQ(shownChars, chars);
    }
  }
}

TEST(LayoutTest, TemplateArrangementAt80x24) {
  DialogLayout l = LayoutDialog(24, 80);
  // Rows in template order: file, progress, elapsed and retry stats, status, buttons.
  EXPECT_LT(l.fileBox.y, l.bar.y);
  EXPECT_LT(l.bar.y, l.elapsed.y);
  EXPECT_EQ(l.elapsed.y, l.retryStats.y);
  EXPECT_LT(l.retryStats.x, l.status.Right());
  EXPECT_GT(l.retryStats.x, l.elapsed.x);
  EXPECT_LT(l.elapsed.y, l.status.y);
  EXPECT_LT(l.status.Bottom(), l.start.y + 1);
  EXPECT_EQ(l.start.y, l.quit.y);
  EXPECT_LT(l.start.x, l.stop.x);
  EXPECT_LT(l.stop.x, l.quit.x);
  // File box and bar share their column; Browse and the percentage theirs.
  EXPECT_EQ(l.fileBox.x, l.bar.x);
  EXPECT_EQ(l.fileBox.w, l.bar.w);
  EXPECT_EQ(l.browse.x, l.percent.x);
  EXPECT_GE(l.percent.w, static_cast<int>(std::string("100% completed").size()));
  EXPECT_GE(l.fileBox.w, 40);
  EXPECT_GE(l.elapsed.w, static_cast<int>(std::string("99999 seconds elapsed").size()));
  EXPECT_GE(l.retryStats.w, static_cast<int>(std::string("Retry Stats: (10, 10, 10)").size()));
}

TEST(LayoutTest, WiderScreensWidenTheFieldsNotTheLabels) {
  DialogLayout narrow = LayoutDialog(24, 80);
  DialogLayout wide = LayoutDialog(24, 160);
  EXPECT_EQ(wide.fileBox.x, narrow.fileBox.x);
  EXPECT_EQ(wide.fileBox.w, narrow.fileBox.w + 80);
  EXPECT_EQ(wide.browse.Right(), narrow.browse.Right() + 80);
}

TEST(LayoutTest, BelowTheMinimumNothingIsPlaced) {
  EXPECT_FALSE(LayoutDialog(kMinRows - 1, 80).fits);
  EXPECT_FALSE(LayoutDialog(24, kMinCols - 1).fits);
}

TEST(LayoutTest, BoxesAreCentredAndFitTheScreen) {
  for (const Size& sz : kSizes) {
    Rect screen{0, 0, sz.rows, sz.cols};
    int limit = MessageBoxTextLimit(sz.cols);
    Rect box = LayoutMessageBox(sz.rows, sz.cols, limit, 4, 16);
    EXPECT_TRUE(screen.Contains(box)) << sz.rows << "x" << sz.cols;
    EXPECT_LE(std::abs((box.x) - (sz.cols - box.Right())), 1);
    ChooserLayout c = LayoutChooser(sz.rows, sz.cols);
    EXPECT_TRUE(screen.Contains(c.frame));
    const Rect parts[] = {c.folder, c.list, c.name, c.filter, c.hint};
    for (const Rect& r : parts) EXPECT_TRUE(c.frame.Contains(r));
    EXPECT_LT(c.list.Bottom(), c.name.y + 1);
    EXPECT_GE(c.list.h, 1);
  }
}

// The quit question while a download runs, at the smallest sizes a box is
// drawn at: the question its buttons answer is never the part cut off.
TEST(LayoutTest, BoxesKeepTheirQuestionAtEverySize) {
  const std::string text =
      "A download is running: quitting stops it, and the expander will have to be power cycled "
      "before the next try.\n\nAre you sure you want to quit?";
  for (const Size& sz : {Size{10, 40}, Size{8, 30}, Size{14, 60}, Size{24, 80}}) {
    const int room = sz.rows - 5;
    const std::vector<std::string> lines = FitBoxText(text, MessageBoxTextLimit(sz.cols), room);
    ASSERT_FALSE(lines.empty());
    EXPECT_LE(static_cast<int>(lines.size()), room) << sz.rows << "x" << sz.cols;
    EXPECT_NE(lines.back().find("quit?"), std::string::npos) << sz.rows << "x" << sz.cols;
    std::string joined;
    for (const auto& l : lines) joined += l + " ";
    EXPECT_NE(joined.find("Are you sure"), std::string::npos) << joined;
  }
}

// Names with wide and combining characters: each chooser row, the chooser's
// name line and the dialog's file box take exactly the columns of their
// field, so the frame beside them stays where it is drawn.
TEST(LayoutTest, WideCharacterNamesKeepEveryFrameClosed) {
  const std::string farm = "\xe3\x83\x95\xe3\x82\xa1\xe3\x83\xbc\xe3\x83\xa0";  // 8 columns
  std::string longWide = "x";  // odd, so that a wide letter straddles every even edge
  for (int i = 0; i < 30; ++i) longWide += farm;
  const std::string names[] = {farm + ".bin", "Pru\xcc\x88" "fung " + farm, longWide + ".bin",
                               longWide, "\xff" + farm};
  for (const Size& sz : kSizes) {
    const ChooserLayout c = LayoutChooser(sz.rows, sz.cols);
    const DialogLayout d = LayoutDialog(sz.rows, sz.cols);
    const int nameField = c.name.w - static_cast<int>(std::string("File name: ").size()) - 2;
    for (const std::string& name : names) {
      SCOPED_TRACE(std::to_string(sz.rows) + "x" + std::to_string(sz.cols) + " " + name);
      for (bool dir : {false, true}) {
        ChooserEntry e;
        e.name = name;
        e.isDir = dir;
        e.size = 123456;
        for (bool utf8 : {true, false}) {
          EXPECT_EQ(TextColumns(ChooserModel::Row(e, true, c.list.w, utf8)), c.list.w);
          EXPECT_EQ(TextColumns(ChooserModel::Row(e, false, c.list.w, utf8)), c.list.w);
        }
      }
      for (int width : {nameField, d.fileBox.w - 2}) {
        LineEditor line;
        line.SetText("/data/" + name);
        for (int moves : {0, 1, 7, 40}) {
          if (moves) line.Home();
          for (int i = 0; i < moves; ++i) line.Right();
          int col = -1;
          const std::string view = DisplayText(line.View(width, &col), true);
          EXPECT_EQ(TextColumns(PadColumns(view, width)), width);
          EXPECT_LE(TextColumns(view), width);
          EXPECT_GE(col, 0);
          EXPECT_LT(col, width);
        }
      }
    }
  }
}

TEST(LayoutTest, ButtonCaptionsShowFocusAndDisabledStateWithoutColour) {
  EXPECT_EQ(ButtonCaption("Start", false, true), "[ Start ]");
  EXPECT_EQ(ButtonCaption("Start", true, true), "[>Start<]");
  EXPECT_EQ(ButtonCaption("Start", false, false), "( Start )");
}

}  // namespace
