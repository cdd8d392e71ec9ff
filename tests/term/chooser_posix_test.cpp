#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/term/chooser.h"
#include "support/temp_dir.h"

namespace {

class ChooserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = temp_.path();
    MakeDir("zeta");
    MakeDir("Alpha");
    MakeDir(".hidden");
    MakeFile("b.bin");
    MakeFile("A.BIN");
    MakeFile("notes.txt");
    MakeFile("zeta/inner.bin");
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
  TempDir temp_{"chooser_test"};
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

// The chooser opens in the folder of the file box's file, with it selected;
// without a usable one, in the fallback folder.
TEST_F(ChooserTest, OpensNearTheFileInTheFileBox) {
  struct Case {
    std::string file;
    std::string dir;
    std::string name;  // selected, in the name line
  };
  const Case cases[] = {
      {root_ + "/zeta/inner.bin", root_ + "/zeta/", "inner.bin"},
      {root_ + "/zeta/gone.bin", root_ + "/zeta/", ""},
      {root_ + "/nowhere/fw.bin", root_ + "/Alpha/", ""},
      {"", root_ + "/Alpha/", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    ChooserModel m;
    m.OpenNear(c.file, root_ + "/Alpha");
    EXPECT_EQ(m.dir(), c.dir);
    EXPECT_EQ(m.name().text(), c.name);
    if (!c.name.empty()) {
      ASSERT_LT(static_cast<size_t>(m.selected()), m.entries().size());
      EXPECT_EQ(m.entries()[static_cast<size_t>(m.selected())].name, c.name);
    }
  }
  // A relative path is taken from the working folder.
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(root_.c_str()), 0);
  ChooserModel m;
  m.OpenNear("zeta/inner.bin", "/");
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(m.dir(), root_ + "/zeta/");
  EXPECT_EQ(m.name().text(), "inner.bin");
}

TEST_F(ChooserTest, FilesShowSizeAndDate) {
  ChooserModel m;
  ASSERT_TRUE(m.Open(root_));
  ASSERT_EQ(Names(m), (std::vector<std::string>{"../", "Alpha/", "zeta/", "A.BIN", "b.bin"}));
  const ChooserEntry& bin = m.entries().back();  // b.bin: "VRQ"
  ASSERT_EQ(bin.name, "b.bin");
  std::string details = ChooserModel::Details(bin);
  EXPECT_EQ(details.rfind("3 bytes  ", 0), 0u) << details;
  EXPECT_EQ(details.size(), std::string("3 bytes  2024-05-01 12:34").size()) << details;
  EXPECT_EQ(ChooserModel::Details(m.entries()[1]), "");  // a folder
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
