#include <gtest/gtest.h>

#include <string>

#include "app/dialog_api.h"
#include "console/device.h"
#include "support/console_peer.h"
#include "support/recording_view.h"
#include "support/scripted_expander.h"
#include "support/trace_capture.h"

namespace {

constexpr char kReboot[] = "enclosure -a mod -s \"reboot=1\"";
constexpr char kDefaults[] =
    "tavo1productdatawrite 0x6 0x80 0x00 0x00 0x00 0x00 0x00 0x00 0x00 0x00";

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    peer_.Attach(port_.exp());
    t0_ = port_.clock().NowMs();
  }
  int64_t elapsed() { return port_.clock().NowMs() - t0_; }
  // Replies `text` (after `delayMs`) to every space prompt from prompt
  // number `from` (1-based) on.
  void AnswerPrompts(const std::string& text, int from = 1, int64_t delayMs = 0) {
    peer_.onLine = [this, text, from, delayMs](ScriptedExpander& exp, const std::string& line) {
      if (line == " " && ++prompts_ >= from) exp.Reply(text, delayMs);
    };
  }

  ScriptedPort port_;
  ConsolePeer peer_;
  TraceCapture trace_;
  ScopedView view_;
  int64_t t0_ = 0;
  int prompts_ = 0;
};

TEST_F(DeviceTest, SilentConsoleIsGivenUpAfterTenReprompts) {
  EXPECT_FALSE(IsSysUpAndRunning(75));
  // Two prompts (1020 ms), passes of 1000 ms until second 77 (77020 ms),
  // then ten passes of three prompts and the pause (2530 ms each), and a
  // last pass that only prompts (1530 ms).
  EXPECT_EQ(elapsed(), 77020 + 10 * 2530 + 1530);
  EXPECT_EQ(peer_.CountLine(" "), 2 + 11 * 3);
  EXPECT_EQ(port_.exp().purges(), 1 + 11);
  std::vector<std::string> issued;
  for (const std::string& l : trace_.lines()) {
    if (l.rfind("Issuing(#", 0) == 0) issued.push_back(l);
  }
  ASSERT_EQ(issued.size(), 10u);
  for (int n = 1; n <= 10; ++n) {
    EXPECT_EQ(issued[n - 1], "Issuing(#" + std::to_string(n) + ") the cmd again\n");
  }
  // Every pass refreshes the elapsed seconds and nothing else.
  EXPECT_EQ(view_.view().history(IDC_ELAPSED).size(), 76u + 10u);
  EXPECT_TRUE(view_.view().history(IDC_PERCENT).empty());
}

TEST_F(DeviceTest, PromptInTheFirstAnswerEndsTheWaitAtOnce) {
  AnswerPrompts("\r\nexp> ");
  EXPECT_TRUE(IsSysUpAndRunning(75));
  EXPECT_EQ(elapsed(), 1020);  // the two prompts, no pause
  EXPECT_TRUE(trace_.Has("IsSysUpAndRunning: iBytesRead > 0"));
}

TEST_F(DeviceTest, PromptCharacterCountsAnywhereInARead) {
  AnswerPrompts("ab>cd\r\n");
  EXPECT_TRUE(IsSysUpAndRunning(75));
  EXPECT_EQ(elapsed(), 1020);
}

TEST_F(DeviceTest, PromptCharacterInALaterReadIsFound) {
  // "exp" comes with the first prompt, its '>' only 1.5 s later.
  peer_.onLine = [this](ScriptedExpander& exp, const std::string& line) {
    if (line == " " && ++prompts_ == 1) {
      exp.Reply("\r\nexp");
      exp.Reply(">", 1500);
    }
  };
  EXPECT_TRUE(IsSysUpAndRunning(75));
  EXPECT_EQ(elapsed(), 1020 + 1000);
}

TEST_F(DeviceTest, AnswersWithoutPromptKeepTheWaitGoing) {
  // Blank lines to everything, and a prompt only to the fourth re-prompt
  // space (the 2 + 3 + 1 = 6th space): the time-out passes first.
  peer_.onLine = [this](ScriptedExpander& exp, const std::string& line) {
    if (line != " ") return;
    exp.Reply(++prompts_ >= 6 ? "\r\nexp> " : "\r\n \r\n");
  };
  EXPECT_TRUE(IsSysUpAndRunning(10));
  EXPECT_TRUE(trace_.Has("Issuing(#2) the cmd again\n"));
  EXPECT_FALSE(trace_.Has("Issuing(#3) the cmd again\n"));
}

TEST_F(DeviceTest, RebootPutsOneSpaceThenTheCommandThreeTimes) {
  port_.exp().Reply("stale>");
  RebootExpander();
  const std::string line = std::string(kReboot) + "\n\n\n";
  EXPECT_EQ(port_.exp().written(), " \n\n\n" + line + line + line);
  EXPECT_EQ(peer_.CountLine(kReboot), 3);
  // Nothing is read or purged.
  EXPECT_EQ(port_.exp().pending(), 6u);
  EXPECT_EQ(port_.exp().purges(), 0);
  // 200 + 510 + 100 + 800 + 100 + 800 + 100 + 800 + 300 ms.
  EXPECT_EQ(elapsed(), 3710);
}

TEST_F(DeviceTest, FactoryDefaultsWriteOneFixedLine) {
  SetFirmwareDefaults();
  EXPECT_EQ(port_.exp().written(), std::string(" \n\n\n") + kDefaults + "\n\n\n");
  EXPECT_EQ(elapsed(), 200 + 510 + 100 + 1200 + 1000);
}

}  // namespace
