#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/version.h"
#include "support/console_peer.h"
#include "support/scripted_expander.h"
#include "support/trace_capture.h"

namespace {

constexpr char kQuery[] = "donz 0x06 0x88";
// A record the query must leave alone when it has no usable answer.
constexpr FW_VERSION kUntouched = {9, 9, 9, 9};

bool operator==(const FW_VERSION& a, const FW_VERSION& b) {
  return a.major == b.major && a.minor == b.minor && a.build == b.build &&
         a.revision == b.revision;
}

class VersionQueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    peer_.Attach(port_.exp());
    t0_ = port_.clock().NowMs();
    peer_.onLine = [this](ScriptedExpander&, const std::string& line) {
      // Start of the repeat line: its three characters and line feeds are out.
      if (line == "\n\r ") repeatMs_.push_back(elapsed() - 30);
    };
  }
  // Answers every version query with `pieces`: (text, delay in ms after the
  // query line) pairs, from the query number `from` (1-based) on.
  void AnswerQueries(std::vector<std::pair<std::string, int64_t>> pieces, int from = 1) {
    peer_.onLine = [this, pieces, from](ScriptedExpander& exp, const std::string& line) {
      if (line != kQuery) return;
      if (++queries_ < from) return;
      for (const auto& p : pieces) exp.Reply(p.first, p.second);
    };
  }
  int64_t elapsed() { return port_.clock().NowMs() - t0_; }

  ScriptedPort port_;
  ConsolePeer peer_;
  TraceCapture trace_;
  int64_t t0_ = 0;
  int queries_ = 0;
  std::vector<int64_t> repeatMs_;
};

// The query line goes out after "\n\r" and two pauses: it is complete at
// 1460 ms (2 + 14 characters at 10 ms, two 500 ms line pauses, 300 ms).
constexpr int64_t kQueryDoneMs = 1460;

TEST_F(VersionQueryTest, SilentConsoleGivesUpAfterThreeRepeats) {
  FW_VERSION v = kUntouched;
  EXPECT_EQ(CheckFirmwareVer(&v, 4), -1);
  EXPECT_TRUE(v == kUntouched);

  // The clock started on a whole second, so the time-out counts from second 1
  // and is found passed in second 6; the 50 ms polls find it at 6010 ms.
  // Each repeat then costs 100 ms + "\n\r " (530 ms) + the query (640 ms).
  EXPECT_EQ(elapsed(), 6010 + 3 * 1270);
  EXPECT_EQ(peer_.CountLine(kQuery), 4);
  EXPECT_EQ(peer_.CountLine("\n\r "), 3);
  EXPECT_EQ(port_.exp().purges(), 3);
  EXPECT_EQ(trace_.Count("CheckFirmwareVer timeout\n"), 4);
  for (int n = 1; n <= 3; ++n) {
    EXPECT_TRUE(trace_.Has("Issuing(#" + std::to_string(n) + ") the 0x06 0x88 cmd again\n"));
  }
  EXPECT_FALSE(trace_.Has("Issuing(#4) the 0x06 0x88 cmd again\n"));

  // The first repeat starts between 4 and 5 s after the query was sent
  // (plus the 100 ms pause behind the purge).
  ASSERT_FALSE(repeatMs_.empty());
  EXPECT_GT(repeatMs_[0] - kQueryDoneMs, 4000);
  EXPECT_LE(repeatMs_[0] - kQueryDoneMs, 5000 + 100);
}

TEST_F(VersionQueryTest, ReplyIsSeenTheMomentItArrives) {
  AnswerQueries({{"\r\nFirmware version 0.01.0000.05\r\nexp>", 2345}});
  FW_VERSION v = kUntouched;
  EXPECT_EQ(CheckFirmwareVer(&v, 4), 1);
  EXPECT_TRUE(v == (FW_VERSION{0, 1, 0, 5}));
  // Arrival: 2345 ms after the query's last write (at 960 ms).
  EXPECT_EQ(elapsed(), 960 + 2345);
  EXPECT_EQ(peer_.CountLine(kQuery), 1);
}

TEST_F(VersionQueryTest, AnswerToARepeatedQueryCounts) {
  AnswerQueries({{"\r\nFirmware version 1.02.0003.04\r\n", 0}}, 3);
  FW_VERSION v = kUntouched;
  EXPECT_EQ(CheckFirmwareVer(&v, 4), 1);
  EXPECT_TRUE(v == (FW_VERSION{1, 2, 3, 4}));
  EXPECT_EQ(peer_.CountLine(kQuery), 3);
}

TEST_F(VersionQueryTest, OnlyTheFirstReadIsExamined) {
  // The first piece arrives during the line pause, the rest after the first
  // read: 20 characters are not a usable answer, and no repeat follows.
  AnswerQueries({{"\r\nFirmware version ", 100}, {"0.01.0000.05\r\n", 900}});
  FW_VERSION v = kUntouched;
  EXPECT_EQ(CheckFirmwareVer(&v, 4), -1);
  EXPECT_TRUE(v == kUntouched);
  EXPECT_EQ(elapsed(), kQueryDoneMs);
  EXPECT_EQ(peer_.CountLine(kQuery), 1);
  EXPECT_EQ(trace_.Count("buffer=\r\nFirmware version "), 2);
}

TEST_F(VersionQueryTest, PiecesWithinTheLinePauseFormOneAnswer) {
  AnswerQueries({{"\r\nFirmware version ", 100}, {"0.01.0000.05\r\n", 400}});
  FW_VERSION v = kUntouched;
  EXPECT_EQ(CheckFirmwareVer(&v, 4), 1);
  EXPECT_TRUE(v == (FW_VERSION{0, 1, 0, 5}));
}

struct AnswerCase {
  const char* name;
  std::string answer;
  int32_t result;
  FW_VERSION version;
  const char* trace;  // a trace line the case must write
};

class VersionAnswerTest : public VersionQueryTest,
                          public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(VersionAnswerTest, ParsesTheAnswer) {
  const AnswerCase& c = GetParam();
  AnswerQueries({{c.answer, 0}});
  FW_VERSION v = kUntouched;
  EXPECT_EQ(CheckFirmwareVer(&v, 4), c.result);
  EXPECT_TRUE(v == c.version) << v.major << "." << v.minor << "." << v.build << "."
                              << v.revision;
  EXPECT_TRUE(trace_.Has(c.trace));
  EXPECT_EQ(peer_.CountLine(kQuery), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, VersionAnswerTest,
    ::testing::Values(
        AnswerCase{"Minimum", "\r\nexp> donz\r\nFirmware 0.01.0000.05\r\nexp> ", 1, {0, 1, 0, 5},
                   "ver check OK"},
        AnswerCase{"BelowMinimum", "\r\nexp> donz\r\nFirmware 0.01.0000.04\r\nexp> ", 0,
                   {0, 1, 0, 4}, "ver check too old"},
        AnswerCase{"VersionAloneIsTooShort", "1.2.3.4\r\n", -1, kUntouched, "buffer=1.2.3.4\r\n"},
        AnswerCase{"TwentyCharactersIsTooShort", "fw is 1.02.0003.04\r\n", -1, kUntouched,
                   "CheckFirmwareVer read:"},
        AnswerCase{"NoVersionText", "\r\nUnknown command: donz\r\nexp> ", 0, {0, 0, 0, 0},
                   "!re.Match"},
        AnswerCase{"FirstOfTwoVersionsCounts", "\r\nfw 2.03.0004.05 boot 0.01.0000.01\r\n", 1,
                   {2, 3, 4, 5}, "Ver=2,3,4,5\n"},
        AnswerCase{"FiveNumbersGiveTheFirstFour", "\r\nversion: 1.2.3.4.5 (release)\r\n", 1,
                   {1, 2, 3, 4}, "Ver=1,2,3,4\n"},
        AnswerCase{"LineEndInsideBreaksTheVersion", "\r\nversion: 1.2\r\n.3.4 (release)\r\n", 0,
                   {0, 0, 0, 0}, "!re.Match"},
        AnswerCase{"HighByteInsideBreaksTheVersion", "\r\nversion: 1.2\xb7.3.4 (release)\r\n", 0,
                   {0, 0, 0, 0}, "!re.Match"},
        AnswerCase{"LeadingZerosAreDecimal", "\r\nversion: 0.08.0000.09 (release)\r\n", 1,
                   {0, 8, 0, 9}, "Ver=0,8,0,9\n"},
        AnswerCase{"HugeNumberDoesNotWrap", "\r\nversion: 99999999999.0.0.0 (release)\r\n", 1,
                   {0x7FFFFFFF, 0, 0, 0}, "ver check OK"}),
    [](const ::testing::TestParamInfo<AnswerCase>& info) { return info.param.name; });

class MinimumVersionTest : public ::testing::Test {
  TraceCapture trace_;
};

// The minimum-version rule alone: build never counts.
TEST_F(MinimumVersionTest, BuildNumberTakesNoPart) {
  struct Case {
    const char* text;
    int32_t result;
  } cases[] = {
      {"0.1.7.4", 0}, {"0.1.9999.4", 0}, {"0.0.9999.99", 0}, {"0.1.0.5", 1},
      {"0.1.0.99", 1}, {"0.2.0.0", 1},   {"1.0.0.0", 1},     {"1.1.0.0", 1},
  };
  for (const Case& c : cases) {
    std::string text = std::string("version ") + c.text + "\r\n";
    FW_VERSION v = kUntouched;
    EXPECT_EQ(IsNeededVer(&text[0], &v), c.result) << c.text;
  }
}

}  // namespace
