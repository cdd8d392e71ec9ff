#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/term/chooser.h"

namespace {

class ChooserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/chooser_test_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    MakeDir("zeta");
    MakeDir("Alpha");
    MakeDir(".hidden");
    MakeFile("b.bin");
    MakeFile("A.BIN");
    MakeFile("notes.txt");
    MakeFile("zeta/inner.bin");
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + root_ + "'";
    ASSERT_EQ(system(cmd.c_str()), 0);
  }
  void MakeDir(const std::string& name) { mkdir((root_ + "/" + name).c_str(), 0755); }
  void MakeFile(const std::string& name) {
    FILE* f = fopen((root_ + "/" + name).c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("VRQ", f);
    fclose(f);
  }
  std::vector<std::string> Names(const ChooserModel& m) {
    std::vector<std::string> out;
    for (const ChooserEntry& e : m.entries()) out.push_back(e.name + (e.isDir ? "/" : ""));
    return out;
  }
  ChooserModel::Result Type(ChooserModel& m, const std::string& text) {
    m.HandleKey(Key::Text(text));
    return m.HandleKey(Key::Of(KeyCode::kEnter));
  }
  std::string root_;
};

TEST_F(ChooserTest, FoldersFirstThenImagesUnderTheFilter) {
  ChooserModel m;
  ASSERT_TRUE(m.Open(root_));
  EXPECT_EQ(m.dir(), root_ + "/");
  EXPECT_EQ(Names(m), (std::vector<std::string>{"../", "Alpha/", "zeta/", "A.BIN", "b.bin"}));
  m.HandleKey(Key::Ctrl('t'));
  EXPECT_EQ(m.filter(), ChooserModel::kAll);
  EXPECT_EQ(Names(m),
            (std::vector<std::string>{"../", "Alpha/", "zeta/", "A.BIN", "b.bin", "notes.txt"}));
  EXPECT_STREQ(ChooserModel::FilterLabel(m.filter()), "All (*.*)");
}

TEST_F(ChooserTest, EnterOpensFoldersAndChoosesFiles) {
  ChooserModel m;
  ASSERT_TRUE(m.Open(root_));
  m.Move(2);  // zeta/
  EXPECT_EQ(m.name().text(), "zeta/");
  EXPECT_EQ(m.HandleKey(Key::Of(KeyCode::kEnter)), ChooserModel::Result::kOpen);
  EXPECT_EQ(m.dir(), root_ + "/zeta/");
  EXPECT_EQ(m.name().text(), "");
  m.Move(1);
  EXPECT_EQ(m.HandleKey(Key::Of(KeyCode::kEnter)), ChooserModel::Result::kChosen);
  EXPECT_EQ(m.chosen(), root_ + "/zeta/inner.bin");
}

TEST_F(ChooserTest, EnterWithNothingTypedTakesTheSelection) {
  ChooserModel m;
  ASSERT_TRUE(m.Open(root_ + "/zeta"));
  EXPECT_EQ(m.HandleKey(Key::Of(KeyCode::kEnter)), ChooserModel::Result::kOpen);  // ".."
  EXPECT_EQ(m.dir(), root_ + "/");
}

TEST_F(ChooserTest, TypedPathsRelativeAndAbsolute) {
  ChooserModel m;
  ASSERT_TRUE(m.Open(root_));
  EXPECT_EQ(Type(m, "zeta"), ChooserModel::Result::kOpen);
  EXPECT_EQ(m.dir(), root_ + "/zeta/");
  EXPECT_EQ(Type(m, "../notes.txt"), ChooserModel::Result::kChosen);  // any file, filter or not
  EXPECT_EQ(m.chosen(), root_ + "/notes.txt");
  m.name().SetText("");
  EXPECT_EQ(Type(m, root_ + "/.hidden"), ChooserModel::Result::kOpen);
  EXPECT_EQ(m.dir(), root_ + "/.hidden/");
}

TEST_F(ChooserTest, MissingFileStaysOpenWithAMessage) {
  ChooserModel m;
  ASSERT_TRUE(m.Open(root_));
  EXPECT_EQ(Type(m, "missing.bin"), ChooserModel::Result::kOpen);
  EXPECT_EQ(m.error(), "File not found: " + root_ + "/missing.bin");
  EXPECT_EQ(m.HandleKey(Key::Of(KeyCode::kEscape)), ChooserModel::Result::kCancelled);
  EXPECT_TRUE(m.chosen().empty());
}

TEST_F(ChooserTest, PathLongerThanTheCallerTakesIsRefused) {
  ChooserModel m(root_.size() + 6);
  ASSERT_TRUE(m.Open(root_));
  EXPECT_EQ(Type(m, "A.BIN"), ChooserModel::Result::kChosen);  // "/A.BIN" is 6 bytes
  m.name().SetText("");
  m.Open(root_ + "/zeta");
  EXPECT_EQ(Type(m, "inner.bin"), ChooserModel::Result::kOpen);
  EXPECT_NE(m.error().find("too long"), std::string::npos);
}

TEST_F(ChooserTest, UnreadableFolderKeepsTheCurrentOne) {
  ChooserModel m;
  ASSERT_TRUE(m.Open(root_));
  EXPECT_FALSE(m.Open(root_ + "/nope"));
  EXPECT_EQ(m.dir(), root_ + "/");
  EXPECT_FALSE(m.error().empty());
}

TEST(ChooserPathTest, ResolvesLexically) {
  setenv("HOME", "/srv/op", 1);
  struct {
    const char* dir;
    const char* name;
    const char* path;
  } const cases[] = {
      {"/a/b/", "c.bin", "/a/b/c.bin"},  {"/a/b/", "../c.bin", "/a/c.bin"},
      {"/a/b/", "/x//y/./z", "/x/y/z"},  {"/", "..", "/"},
      {"/a/", "~/fw.bin", "/srv/op/fw.bin"}, {"/a/", "sub/", "/a/sub/"},
      {"/a/b/", "../../..", "/"},
  };
  for (const auto& c : cases) EXPECT_EQ(ChooserModel::ResolvePath(c.dir, c.name), c.path) << c.name;
}

}  // namespace
