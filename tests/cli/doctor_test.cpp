// The doctor's arithmetic and its verdict over findings.
#include "app/cli/doctor.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(DoctorTest, LatencyCostAtTheLineRate) {
  struct Case {
    int timerMs;
    bool eventChar;
    const char* minutes;
  } cases[] = {
      // Thirty pieces a packet, each waiting for the timer.
      {16, false, "about 35 minutes"},
      // With the event character only the status reply waits, once a packet.
      {16, true, "about 3.4 minutes"},
      {1, false, "about 4.3 minutes"},
      {0, false, "about 2.3 minutes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.timerMs) + (c.eventChar ? " ms, event character" : " ms"));
    const std::string text = LatencyCostText(c.timerMs, c.eventChar);
    EXPECT_NE(text.find(c.minutes), std::string::npos) << text;
    EXPECT_NE(text.find("the line alone 2.3"), std::string::npos) << text;
  }
}

TEST(DoctorTest, FirstBlockingFindingGivesTheCode) {
  auto F = [](FindingLevel level, int code) {
    DoctorFinding f;
    f.check = "x";
    f.level = level;
    f.code = code;
    return f;
  };
  EXPECT_EQ(0, FindingsCode({}));
  EXPECT_EQ(0, FindingsCode({F(FindingLevel::kOk, 0), F(FindingLevel::kWarn, 0),
                             F(FindingLevel::kNote, 0)}));
  EXPECT_EQ(3, FindingsCode({F(FindingLevel::kWarn, 0), F(FindingLevel::kBlock, 3),
                             F(FindingLevel::kBlock, 5)}));
  const std::string text =
      FindingsText("COM3", {F(FindingLevel::kBlock, 4), F(FindingLevel::kOk, 0)});
  EXPECT_EQ(text.rfind("COM3\n  FAIL  x", 0), 0u) << text;
}

}  // namespace
