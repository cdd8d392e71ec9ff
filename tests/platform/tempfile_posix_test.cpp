#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/tempfile.h"
#include "support/temp_dir.h"

namespace {

class TmpdirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = getenv("TMPDIR");
    hadOld_ = old != nullptr;
    if (old) old_ = old;
    dir_ = temp_.path();
  }
  void TearDown() override {
    if (hadOld_) {
      setenv("TMPDIR", old_.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }
  TempDir temp_{"twt-dir"};
  bool hadOld_ = false;
  std::string old_;
  std::string dir_;
};

TEST_F(TmpdirTest, FollowsTmpdirAndFallsBackToTmp) {
  char out[260];
  setenv("TMPDIR", dir_.c_str(), 1);
  ASSERT_TRUE(GetTempDir(out, sizeof out));
  EXPECT_EQ(std::string(out), dir_ + "/");
  setenv("TMPDIR", "", 1);
  ASSERT_TRUE(GetTempDir(out, sizeof out));
  EXPECT_STREQ(out, "/tmp/");
  unsetenv("TMPDIR");
  ASSERT_TRUE(GetTempDir(out, sizeof out));
  EXPECT_STREQ(out, "/tmp/");
}

TEST_F(TmpdirTest, FilesAreCreatedPrivate) {
  char name[260];
  ASSERT_TRUE(CreateTempFileName(dir_.c_str(), "fwdl", name, sizeof name));
  struct stat st;
  ASSERT_EQ(stat(name, &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(std::string(name).rfind(dir_ + "/fwd", 0), 0u);
  EXPECT_TRUE(DeleteFilePath(name));
}

}  // namespace
