#include <gtest/gtest.h>

#include <string>

#include "app/term/line_editor.h"
#include "app/term/text_util.h"

namespace {

TEST(LineEditorTest, InsertDeleteAndCursorMoves) {
  LineEditor e;
  e.Insert("fw.bin");
  e.Home();
  e.Insert("/tmp/");
  EXPECT_EQ(e.text(), "/tmp/fw.bin");
  EXPECT_EQ(e.cursor(), 5u);
  EXPECT_TRUE(e.Backspace());
  EXPECT_TRUE(e.Delete());
  EXPECT_EQ(e.text(), "/tmpw.bin");
  e.End();
  EXPECT_FALSE(e.Delete());
  e.Home();
  EXPECT_FALSE(e.Backspace());
  e.Right();
  EXPECT_TRUE(e.DeleteToEnd());
  EXPECT_EQ(e.text(), "/");
}

TEST(LineEditorTest, MovesAndDeletesWholeUtf8Characters) {
  LineEditor e;
  e.Insert("a\xc3\xa9z");  // a, e-acute, z
  e.Left();
  e.Left();
  EXPECT_EQ(e.cursor(), 1u);
  EXPECT_TRUE(e.Delete());
  EXPECT_EQ(e.text(), "az");
  e.SetText("\xe2\x82\xac");
  EXPECT_TRUE(e.Backspace());
  EXPECT_EQ(e.text(), "");
}

TEST(LineEditorTest, KeepsToTheLimitAndDropsControlCharacters) {
  LineEditor e(10);
  e.Insert("/a\tb\r\n\x1b" "c");
  EXPECT_EQ(e.text(), "/abc");
  e.Insert("0123456789");
  EXPECT_EQ(e.text(), "/abc012345");
  e.SetText("123456789\xc3\xa9");  // the two-byte character does not fit whole
  EXPECT_EQ(e.text(), "123456789");
  EXPECT_EQ(e.cursor(), 9u);
}

TEST(LineEditorTest, ScrollWindowFollowsTheCursor) {
  LineEditor e;
  e.SetText("/data/user/firmware/image.bin");  // 29 characters, cursor at the end
  int col = -1;
  // The end and a free column for the cursor.
  EXPECT_EQ(e.View(10, &col), "image.bin");
  EXPECT_EQ(col, 9);
  e.Home();
  EXPECT_EQ(e.View(10, &col), "/data/user");
  EXPECT_EQ(col, 0);
  for (int i = 0; i < 12; ++i) e.Right();
  EXPECT_EQ(e.View(10, &col), "ta/user/fi");
  EXPECT_EQ(col, 9);
  // Moving back inside the window does not scroll it.
  e.Left();
  e.Left();
  EXPECT_EQ(e.View(10, &col), "ta/user/fi");
  EXPECT_EQ(col, 7);
  // Once the text is short again, no column stays blank on the right.
  e.SetText("/data/user/firmware/image.bin");
  e.View(10, &col);
  e.Home();
  e.DeleteToEnd();
  e.Insert("abc");
  EXPECT_EQ(e.View(10, &col), "abc");
  EXPECT_EQ(col, 3);
}

TEST(TextUtilTest, WrapsAtLineEndsAndBlanks) {
  struct Case {
    const char* text;
    int width;
    int maxLines;
    std::vector<std::string> lines;
  } const cases[] = {
      {"", 10, 2, {}},
      {"one two three", 20, 2, {"one two three"}},
      {"one two three", 8, 3, {"one two", "three"}},
      {"one two three", 7, 3, {"one two", "three"}},
      {"abcdefghij", 4, 5, {"abcd", "efgh", "ij"}},
      {"Firmware download finished successfully.\nPlease power cycle.", 60, 2,
       {"Firmware download finished successfully.", "Please power cycle."}},
      {"a\n\nb", 5, 5, {"a", "", "b"}},
      {"a b c d e f", 1, 3, {"a", "b", "c"}},
  };
  for (const Case& c : cases) EXPECT_EQ(WrapText(c.text, c.width, c.maxLines), c.lines) << c.text;
}

TEST(TextUtilTest, ClipsByColumnsFromEitherEnd) {
  EXPECT_EQ(ClipColumns("a\xc3\xa9zz", 2), "a\xc3\xa9");
  EXPECT_EQ(ClipColumnsLeft("/data/user/fw", 8), "...er/fw");
  EXPECT_EQ(ClipColumnsLeft("/fw", 8), "/fw");
  EXPECT_EQ(DisplayText("a\x01\xc3\xa9", false), "a??");
  EXPECT_EQ(DisplayText("a\x01\xc3\xa9", true), "a?\xc3\xa9");
}

}  // namespace
