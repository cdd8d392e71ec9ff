// Writes of the POSIX profile code: one line changes or is added, every other
// byte stays, and the file is replaced whole or not at all.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "config/profile.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

class ProfileWriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = temp_.path();
    path_ = (dir_ / "fwdl.ini").string();
  }
  void WriteIni(const std::string& bytes) { std::ofstream(path_, std::ios::binary) << bytes; }
  std::string ReadIni() const {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  bool Write(const char* key, const char* value) {
    return ProfileWriteString(path_.c_str(), "settings", key, value);
  }

  TempDir temp_{"tarnwick-profile"};
  fs::path dir_;
  std::string path_;
};

TEST_F(ProfileWriteTest, ChangesOneLineAndKeepsEveryOtherByte) {
  struct Row {
    const char* what;
    std::string before;
    const char* key;
    std::string after;
  };
  const Row rows[] = {
      {"empty file", "", "file", "[settings]\nfile=v\n"},
      {"CRLF replace", "[settings]\r\nfile=old\r\ncomport=1\r\n", "file",
       "[settings]\r\nfile=v\r\ncomport=1\r\n"},
      {"CRLF add before blank line", "[settings]\r\nfile=a\r\n\r\n[other]\r\nx=1\r\n", "comport",
       "[settings]\r\nfile=a\r\ncomport=v\r\n\r\n[other]\r\nx=1\r\n"},
      {"mixed ends, blanks and quotes kept around",
       "; note\r\n[settings]\nFile = \"old\"  \r\nx=1", "file",
       "; note\r\n[settings]\nFile = v\r\nx=1"},
      {"new section after unterminated line", "[other]\r\nx=1", "comport",
       "[other]\r\nx=1\r\n[settings]\r\ncomport=v\r\n"},
      {"header is the last line", "[Settings]", "file", "[Settings]\nfile=v\n"},
      {"first duplicate only", "[settings]\nfile=a\nFILE=b\n", "file",
       "[settings]\nfile=v\nFILE=b\n"},
      {"key outside any section untouched", "file=out\n[settings]\n", "file",
       "file=out\n[settings]\nfile=v\n"},
      {"first section of the name", "[settings]\nx=1\n[other]\n[settings]\nfile=a\n", "file",
       "[settings]\nx=1\nfile=v\n[other]\n[settings]\nfile=a\n"},
      {"mark, NUL and binary bytes kept", "\xEF\xBB\xBF[settings]\nx=\0\xff\r\nfile=a\0tail\n"s,
       "file", "\xEF\xBB\xBF[settings]\nx=\0\xff\r\nfile=v\n"s},
      {"CR line ends", "[settings]\rfile=a\r", "file", "[settings]\rfile=v\r"},
      {"added line ends as the one before it, so a blank line after stays",
       "[settings]\ra=1\n\n[x]\r", "file", "[settings]\ra=1\nfile=v\n\n[x]\r"},
      {"long garbage line", std::string(70000, 'g') + "\n[settings]\n", "file",
       std::string(70000, 'g') + "\n[settings]\nfile=v\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    WriteIni(row.before);
    EXPECT_TRUE(Write(row.key, "v"));
    EXPECT_EQ(ReadIni(), row.after);
  }
}

TEST_F(ProfileWriteTest, RefusesWhatWouldBreakTheFile) {
  const std::string before = "[settings]\nfile=a\n";
  WriteIni(before);
  EXPECT_FALSE(Write("file", "x\ny"));
  EXPECT_FALSE(Write("file", "x\ry"));
  EXPECT_FALSE(Write("fi=le", "x"));
  EXPECT_FALSE(ProfileWriteString(path_.c_str(), "set]tings", "file", "x"));
  EXPECT_EQ(ReadIni(), before);

  // A path that cannot be read is never replaced by a new file.
  fs::remove(path_);
  fs::create_directory(path_);
  EXPECT_FALSE(Write("file", "x"));
  EXPECT_TRUE(fs::is_directory(path_));
}

TEST_F(ProfileWriteTest, ReplacesWholeKeepingModeAndLinks) {
  WriteIni("[settings]\nfile=a\n");
  ASSERT_EQ(chmod(path_.c_str(), 0600), 0);
  const std::string link = (dir_ / "link.ini").string();
  fs::create_symlink(path_, link);

  EXPECT_TRUE(ProfileWriteString(link.c_str(), "settings", "file", "b"));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadIni(), "[settings]\nfile=b\n");
  struct stat st;
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  int entries = 0;
  for (const auto& entry : fs::directory_iterator(dir_)) entries += entry.exists() ? 1 : 0;
  EXPECT_EQ(entries, 2);  // the file and the link: no temporary file left
}

TEST(ProfileReadTest, SmallBuffersAndMissingNamesStayInBounds) {
  char out[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(ProfileGetString("/nonexistent/fwdl.ini", "settings", "file", "default", out, 4), 3u);
  EXPECT_STREQ(out, "def");
  char none[1] = {'x'};
  EXPECT_EQ(ProfileGetString("/nonexistent/fwdl.ini", "settings", "file", "d", none, 0), 0u);
  EXPECT_EQ(none[0], 'x');
  EXPECT_EQ(ProfileGetInt("/nonexistent/fwdl.ini", "settings", "comport", -7), 0xFFFFFFF9u);
}

}  // namespace
