#include "platform/tempfile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "image/fw_image.h"
#include "platform/paths.h"

namespace {

std::string TempDir() {
  char dir[260];
  EXPECT_TRUE(GetTempDir(dir, sizeof dir));
  return dir;
}

TEST(TempFileTest, DirectoryAndNamesThatDoNotFit) {
  std::string dir = TempDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), PathSeparator());
  char tiny[8];
  EXPECT_FALSE(GetTempDir(tiny, 2));
  EXPECT_FALSE(CreateTempFileName(dir.c_str(), "fwdl", tiny, sizeof tiny));
  EXPECT_STREQ(tiny, "");
}

TEST(TempFileTest, CreatesDistinctEmptyFilesAndDeletesThem) {
  std::string dir = TempDir();
  std::vector<std::string> names;
  for (int i = 0; i < 20; ++i) {
    char name[260];
    ASSERT_TRUE(CreateTempFileName(dir.c_str(), "fwdl", name, sizeof name));
    names.push_back(name);
  }
  std::set<std::string> unique(names.begin(), names.end());
  EXPECT_EQ(unique.size(), names.size());

  const uint8_t marker[3] = {1, 2, 3};
  ASSERT_TRUE(WriteFileBytes(names[0].c_str(), marker, 3));
  for (const std::string& n : names) {
    SCOPED_TRACE(n);
    EXPECT_EQ(n.compare(0, dir.size(), dir), 0);
    std::string base = PathFileNamePart(n.c_str());
    EXPECT_EQ(base.compare(0, 3, "fwd"), 0);
    ASSERT_GE(base.size(), 4u);
    EXPECT_EQ(base.substr(base.size() - 4), ".tmp");
    if (n != names[0]) {
      EXPECT_EQ(GetFileLength(n.c_str()), 0u);
    }
  }
  // Later names never reuse an existing file.
  char more[260];
  ASSERT_TRUE(CreateTempFileName(dir.c_str(), "fwdl", more, sizeof more));
  EXPECT_EQ(unique.count(more), 0u);
  names.push_back(more);
  EXPECT_EQ(GetFileLength(names[0].c_str()), 3u);

  for (const std::string& n : names) {
    EXPECT_TRUE(DeleteFilePath(n.c_str()));
    uint8_t b;
    EXPECT_FALSE(ReadFileBytes(n.c_str(), &b, 0)) << n << " still exists";
    EXPECT_FALSE(DeleteFilePath(n.c_str()));
  }
}

// What a process about to be ended from outside still removes: the files
// it made and has not deleted yet, and no other file.
TEST(TempFileTest, FilesLeftAreDeletedOnDemand) {
  std::string dir = TempDir();
  char sent[260], left[260];
  ASSERT_TRUE(CreateTempFileName(dir.c_str(), "fwdl", sent, sizeof sent));
  ASSERT_TRUE(CreateTempFileName(dir.c_str(), "fwdl", left, sizeof left));
  const std::string keep = std::string(left) + ".keep";
  const char* other = keep.c_str();
  const uint8_t byte = 7;
  ASSERT_TRUE(WriteFileBytes(other, &byte, 1));
  ASSERT_TRUE(DeleteFilePath(sent));
  DeleteTempFilesLeft();
  EXPECT_FALSE(FileExists(left));
  EXPECT_TRUE(FileExists(other));
  DeleteTempFilesLeft();  // nothing left: harmless
  EXPECT_TRUE(DeleteFilePath(other));
}

}  // namespace
