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

// Wide characters: the window is two columns a character, and the cursor's
// cell is never half of one.
TEST(LineEditorTest, ScrollWindowCountsWideCharactersTwice) {
  const std::string fu = "\xe3\x83\x95";  // a katakana letter, two columns
  LineEditor e;
  std::string text;
  for (int i = 0; i < 20; ++i) text += fu;
  e.SetText(text);
  int col = -1;
  EXPECT_EQ(e.View(10, &col), fu + fu + fu + fu);
  EXPECT_EQ(col, 8);
  e.Home();
  EXPECT_EQ(e.View(10, &col), fu + fu + fu + fu + fu);
  EXPECT_EQ(col, 0);
  for (int i = 0; i < 5; ++i) e.Right();
  EXPECT_EQ(e.View(10, &col), fu + fu + fu + fu + fu);
  EXPECT_EQ(col, 8);
  // A combining mark takes no column of its own.
  e.SetText("u\xcc\x88" "ber");
  EXPECT_EQ(e.View(10, &col), "u\xcc\x88" "ber");
  EXPECT_EQ(col, 4);
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
      // Wide letters break between them, and each gets a line where one column is all.
      {"\xe3\x83\x95\xe3\x82\xa1\xe3\x83\xbc", 5, 2, {"\xe3\x83\x95\xe3\x82\xa1", "\xe3\x83\xbc"}},
      {"\xe3\x83\x95\xe3\x82\xa1", 1, 3, {"\xe3\x83\x95", "\xe3\x82\xa1"}},
  };
  for (const Case& c : cases) EXPECT_EQ(WrapText(c.text, c.width, c.maxLines), c.lines) << c.text;
}

TEST(TextUtilTest, ClipsByColumnsFromEitherEnd) {
  EXPECT_EQ(ClipColumns("a\xc3\xa9zz", 2), "a\xc3\xa9");
  EXPECT_EQ(ClipColumnsLeft("/data/user/fw", 8), "...er/fw");
  EXPECT_EQ(ClipColumnsLeft("/fw", 8), "/fw");
  EXPECT_EQ(ClipColumnsLeft("/data/\xe3\x83\x95\xe3\x82\xa1\xe3\x83\xbc\xe3\x83\xa0", 8),
            "...\xe3\x83\xbc\xe3\x83\xa0");
  EXPECT_EQ(DisplayText("a\x01\xc3\xa9", false), "a??");
  EXPECT_EQ(DisplayText("a\x01\xc3\xa9", true), "a?\xc3\xa9");
}

// The columns a terminal gives a text, whatever locale the test runs in, and
// a drawn text that takes exactly those columns in either kind of terminal.
TEST(TextUtilTest, MeasuresWideAndCombiningCharacters) {
  struct Case {
    const char* text;
    int columns;
    const char* clip3;     // the first 3 columns
    const char* pad3;      // exactly 3 columns
    const char* shownUtf8;
    const char* shownPlain;
  } const cases[] = {
      // "ファーム": four wide letters; the second straddles column 3 and stays out.
      {"\xe3\x83\x95\xe3\x82\xa1\xe3\x83\xbc\xe3\x83\xa0", 8, "\xe3\x83\x95",
       "\xe3\x83\x95 ", "\xe3\x83\x95\xe3\x82\xa1\xe3\x83\xbc\xe3\x83\xa0", "????????"},
      // "u" and a combining diaeresis: one column; the mark stays with its letter.
      {"Pru\xcc\x88" "fung", 7, "Pru\xcc\x88", "Pru\xcc\x88", "Pru\xcc\x88" "fung", "Prufung"},
      {"a\xc3\xa9zz", 4, "a\xc3\xa9z", "a\xc3\xa9z", "a\xc3\xa9zz", "a?zz"},
      // A byte that begins no character, and a control character: one '?' each.
      {"\xff" "b\x01", 3, "\xff" "b\x01", "\xff" "b\x01", "?b?", "?b?"},
      {"ab", 2, "ab", "ab ", "ab", "ab"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(TextColumns(c.text), c.columns);
    EXPECT_EQ(ClipColumns(c.text, 3), c.clip3);
    EXPECT_EQ(PadColumns(c.text, 3), c.pad3);
    EXPECT_EQ(DisplayText(c.text, true), c.shownUtf8);
    EXPECT_EQ(DisplayText(c.text, false), c.shownPlain);
    // What is drawn takes the columns measured.
    EXPECT_EQ(TextColumns(DisplayText(c.text, true)), c.columns);
    EXPECT_EQ(static_cast<int>(std::string(c.shownPlain).size()), c.columns);
  }
}

}  // namespace
