// The trace file: marker, time prefixes, held start-up texts, the size bound.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "platform/trace.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

class TraceFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TraceStopFile();
    dir_ = temp_.path();
    log_ = (dir_ / "fwdl.log").string();
  }
  void TearDown() override {
    TraceStopFile();
  }

  // The file's lines with their time prefix checked and removed.
  static std::vector<std::string> Lines(const std::string& path) {
    static const std::regex prefix(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )");
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      std::smatch m;
      EXPECT_TRUE(std::regex_search(line, m, prefix)) << line;
      lines.push_back(m.empty() ? line : m.suffix().str());
    }
    return lines;
  }

  TempDir temp_{"tarnwick-trace"};
  fs::path dir_;
  std::string log_;
};

TEST_F(TraceFileTest, MarkerThenHeldTextsThenEachTextOnItsOwnLine) {
  DbgTrace("cfg->comport=%d", 1);
  ASSERT_TRUE(TraceStartFile(log_.c_str(), "==== run 1 ===="));
  DbgTrace("Image file for the download: %s\n", "/fw/a.bin");
  DbgTrace(" dwTestPoint=%d", 3);
  TraceStopFile();
  DbgTrace("between runs");  // held, then dropped by the next Stop
  TraceStopFile();
  ASSERT_TRUE(TraceStartFile(log_.c_str(), "==== run 2 ===="));
  DbgTrace("HandleCmds started");

  std::vector<std::string> expected = {"==== run 1 ====", "cfg->comport=1",
                                       "Image file for the download: /fw/a.bin", " dwTestPoint=3",
                                       "==== run 2 ====", "HandleCmds started"};
  EXPECT_EQ(Lines(log_), expected);
}

// At the limit the file moves to fwdl.log.1 (one old file kept) and the new
// one begins with the run's marker; no line is split or lost across the two.
TEST_F(TraceFileTest, RotatesAtTheLimitKeepingOneOldFile) {
  constexpr uint64_t kLimit = 400;
  ASSERT_TRUE(TraceStartFile(log_.c_str(), "==== run ====", kLimit));
  const int count = 60;
  for (int i = 0; i < count; ++i) DbgTrace("line %02d of the download trace", i);

  EXPECT_LE(fs::file_size(log_), kLimit);
  EXPECT_LE(fs::file_size(log_ + ".1"), kLimit);
  EXPECT_FALSE(fs::exists(log_ + ".2"));
  std::vector<std::string> old = Lines(log_ + ".1");
  std::vector<std::string> cur = Lines(log_);
  ASSERT_FALSE(old.empty());
  ASSERT_FALSE(cur.empty());
  EXPECT_EQ(old[0], "==== run ==== (continued)");
  EXPECT_EQ(cur[0], "==== run ==== (continued)");
  std::vector<std::string> tail(old.begin() + 1, old.end());
  tail.insert(tail.end(), cur.begin() + 1, cur.end());
  int first = count - static_cast<int>(tail.size());
  for (size_t i = 0; i < tail.size(); ++i) {
    char want[64];
    snprintf(want, sizeof want, "line %02d of the download trace", first + static_cast<int>(i));
    EXPECT_EQ(tail[i], want);
  }

  // A later run that finds the file full starts a new one at once.
  TraceStopFile();
  std::ofstream(log_, std::ios::binary | std::ios::app) << std::string(kLimit, 'x');
  ASSERT_TRUE(TraceStartFile(log_.c_str(), "==== next run ====", kLimit));
  DbgTrace("tarnwick: v2.8");
  EXPECT_EQ(Lines(log_), (std::vector<std::string>{"==== next run ====", "tarnwick: v2.8"}));
  EXPECT_GE(fs::file_size(log_ + ".1"), kLimit);  // the full file, moved aside
}

// The C library's calls, except that the file can never be renamed (held
// open by another program on Windows, or a folder that allows no rename),
// and, where asked, not cut to nothing either. Counts every open.
class StuckFileSystem : public TraceFileSystem {
 public:
  explicit StuckFileSystem(bool can_truncate) : can_truncate_(can_truncate) {}
  std::FILE* Open(const char* path, const char* mode) override {
    ++opens;
    if (!can_truncate_ && std::string(mode) == "wb") {
      errno = EACCES;
      return nullptr;
    }
    return std::fopen(path, mode);
  }
  bool Rename(const char*, const char*) override {
    errno = EACCES;
    return false;
  }
  void Remove(const char* path) override { std::remove(path); }

  int opens = 0;

 private:
  bool can_truncate_;
};

class StuckTraceFileTest : public TraceFileTest {
 protected:
  void TearDown() override {
    TraceStopFile();
    SetTraceFileSystem(nullptr);
    TraceFileTest::TearDown();
  }
  static std::string Numbered(int i) {
    char text[64];
    snprintf(text, sizeof text, "line %03d of the download trace", i);
    return text;
  }
  static int Count(const std::vector<std::string>& lines, const std::string& part) {
    int n = 0;
    for (const std::string& l : lines) n += l.find(part) != std::string::npos;
    return n;
  }
};

constexpr uint64_t kStuckLimit = 1024;
constexpr int kStuckLines = 150;  // several times the limit
const char kStarted[] = "the full file could not be moved aside, so it began again";
const char kEnded[] = "is full and cannot be begun again";

// The file that cannot move aside begins again in place: bounded, one marker
// at its head, the newest lines in order, reopened once per limit's worth of
// lines and not once per line.
TEST_F(StuckTraceFileTest, AFileThatCannotMoveAsideBeginsAgainInPlace) {
  StuckFileSystem fs(true);
  SetTraceFileSystem(&fs);
  ASSERT_TRUE(TraceStartFile(log_.c_str(), "==== run ====", kStuckLimit));
  for (int i = 0; i < kStuckLines; ++i) DbgTrace("%s", Numbered(i).c_str());

  EXPECT_LE(fs::file_size(log_), kStuckLimit);
  EXPECT_FALSE(fs::exists(log_ + ".1"));
  std::vector<std::string> lines = Lines(log_);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], std::string("==== run ==== (continued; ") + kStarted + ")");
  EXPECT_EQ(Count(lines, "==== run ===="), 1);
  for (size_t i = 1; i < lines.size(); ++i)
    EXPECT_EQ(lines[i], Numbered(kStuckLines - static_cast<int>(lines.size() - i)));
  // About 55 bytes a line: each file takes some 18 lines.
  EXPECT_LE(fs.opens, 1 + kStuckLines / 10);
}

// Where the file cannot even be cut, it ends for the run with one line that
// says so; no later line touches it. A run that starts on such a full file
// ends it at once.
TEST_F(StuckTraceFileTest, AFileThatCannotBeginAgainEndsWithOneLine) {
  StuckFileSystem fs(false);
  SetTraceFileSystem(&fs);
  for (bool full_at_start : {false, true}) {
    SCOPED_TRACE(full_at_start ? "full at start" : "full during the run");
    TraceStopFile();
    fs::remove(log_);
    if (full_at_start) {
      std::ofstream old(log_, std::ios::binary);
      for (uint64_t n = 0; n <= kStuckLimit; n += 40) old << "2024-05-06 07:08:09.010 an earlier run\n";
    }
    bool started = TraceStartFile(log_.c_str(), "==== run ====", kStuckLimit);
    EXPECT_EQ(started, !full_at_start);
    int i = 0;
    for (; fs::file_size(log_) <= kStuckLimit && i < kStuckLines; ++i) DbgTrace("%s", Numbered(i).c_str());
    const int opens = fs.opens;
    const uintmax_t size = fs::file_size(log_);
    for (; i < kStuckLines; ++i) DbgTrace("%s", Numbered(i).c_str());

    EXPECT_EQ(fs.opens, opens);
    EXPECT_EQ(fs::file_size(log_), size);
    std::vector<std::string> lines = Lines(log_);
    ASSERT_FALSE(lines.empty());
    // The limit, or the earlier run's full file, and the one last line.
    EXPECT_LE(size, kStuckLimit + 40 + 24 + lines.back().size() + 1);
    EXPECT_NE(lines.back().find(kEnded), std::string::npos) << lines.back();
    EXPECT_EQ(Count(lines, kEnded), 1);
    EXPECT_EQ(Count(lines, "(continued"), 0);
  }
}

TEST_F(TraceFileTest, AnUnwritableFileLeavesOnlyTheSink) {
  EXPECT_FALSE(TraceStartFile((dir_ / "missing" / "fwdl.log").string().c_str(), "m"));
  DbgTrace("still traced");
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
}

}  // namespace
