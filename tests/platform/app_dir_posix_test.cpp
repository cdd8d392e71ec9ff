// Where the programs keep fwdl.ini and fwdl.log: beside the executable when
// they may write there, else in the user's own folders.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "platform/paths.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

class AppDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = temp_.path();
    fs::create_directories(root_ / "copy");
    fs::create_directories(root_ / "readonly");
    chmod((root_ / "readonly").c_str(), 0555);
    setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
    setenv("XDG_STATE_HOME", (root_ / "state").c_str(), 1);
  }
  void TearDown() override {
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("XDG_STATE_HOME");
    chmod((root_ / "readonly").c_str(), 0755);
  }
  std::string Dir(const char* name) { return (root_ / name).string() + "/"; }
  TempDir temp_{"tarnwick-appdir"};
  fs::path root_;
};

TEST_F(AppDirTest, BesideTheProgramOnlyWhereItMayWrite) {
  struct Case {
    std::string exeDir;
    AppFileKind kind;
    std::string expected;
  } cases[] = {
      {Dir("copy"), AppFileKind::kSettings, Dir("copy")},
      {Dir("copy"), AppFileKind::kLog, Dir("copy")},
      // Read-only even for root, who passes every permission check.
      {Dir("readonly"), AppFileKind::kSettings, Dir("config") + "tarnwick/"},
      {Dir("readonly"), AppFileKind::kLog, Dir("state") + "tarnwick/"},
      {"/usr/bin/", AppFileKind::kSettings, Dir("config") + "tarnwick/"},
      {"/usr/local/bin/", AppFileKind::kLog, Dir("state") + "tarnwick/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.exeDir);
    char out[kMaxPathText];
    ASSERT_TRUE(ChooseAppFileDir(c.exeDir.c_str(), c.kind, out, sizeof out));
    EXPECT_EQ(out, c.expected);
    EXPECT_TRUE(fs::is_directory(out));
  }
}

TEST_F(AppDirTest, WithoutXdgVariablesTheHomeFoldersServe) {
  unsetenv("XDG_CONFIG_HOME");
  setenv("XDG_STATE_HOME", "relative/ignored", 1);
  const std::string home = getenv("HOME") ? getenv("HOME") : "";
  setenv("HOME", root_.c_str(), 1);
  char out[kMaxPathText];
  EXPECT_TRUE(GetUserAppDir(AppFileKind::kSettings, out, sizeof out));
  EXPECT_EQ(std::string(out), root_.string() + "/.config/tarnwick/");
  EXPECT_TRUE(GetUserAppDir(AppFileKind::kLog, out, sizeof out));
  EXPECT_EQ(std::string(out), root_.string() + "/.local/state/tarnwick/");
  EXPECT_FALSE(GetUserAppDir(AppFileKind::kLog, out, 8));
  setenv("HOME", home.c_str(), 1);
}

}  // namespace
