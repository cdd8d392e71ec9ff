// The trace file: marker, time prefixes, held start-up texts, the size bound.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "platform/trace.h"

namespace fs = std::filesystem;

namespace {

class TraceFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TraceStopFile();
    dir_ = fs::temp_directory_path() /
           ("tarnwick_trace_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    log_ = (dir_ / "fwdl.log").string();
  }
  void TearDown() override {
    TraceStopFile();
    fs::remove_all(dir_);
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

TEST_F(TraceFileTest, AnUnwritableFileLeavesOnlyTheSink) {
  EXPECT_FALSE(TraceStartFile((dir_ / "missing" / "fwdl.log").string().c_str(), "m"));
  DbgTrace("still traced");
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
}

}  // namespace
