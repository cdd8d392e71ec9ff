#include "app/startup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/dialog_api.h"
#include "config/settings.h"
#include "console/version.h"
#include "support/scripted_expander.h"

namespace {

std::vector<std::string> g_boxTexts;
std::vector<std::string> g_boxCaptions;

int RecordBox(const char* text, const char* caption, unsigned type) {
  EXPECT_EQ(type, static_cast<unsigned>(kMbOk));
  g_boxTexts.emplace_back(text);
  g_boxCaptions.emplace_back(caption);
  return kIdOk;
}

// A console that answers the version query with `answer` once the query
// line is complete.
void AnswerVersionQuery(ScriptedExpander& exp, const std::string& answer) {
  auto line = std::make_shared<std::string>();
  exp.SetResponder([line, answer](ScriptedExpander& e, const std::string& written) {
    *line += written;
    if (line->find("\n\n\n") == std::string::npos) return;
    if (line->find("donz 0x06 0x88") != std::string::npos) e.Reply(answer, 20);
    line->clear();
  });
}

class HintingExpander : public ScriptedExpander {
 public:
  using ScriptedExpander::ScriptedExpander;
  std::string OpenFailureHint() override { return hint; }
  std::string hint;
};

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    memset(&my_cfg, 0, sizeof my_cfg);
    my_cfg.comport = 3;
    g_start_ver = {9, 9, 9, 9};
    g_boxTexts.clear();
    g_boxCaptions.clear();
    SetReport(&DialogReport());
    SetAppMessageBox(RecordBox);
    // Start from a closed port, as the program does.
    CloseCom();
  }
  void TearDown() override {
    SetAppMessageBox(nullptr);
    SetReport(nullptr);
  }

  std::string OnlyBox() {
    EXPECT_EQ(g_boxTexts.size(), 1u);
    if (g_boxTexts.empty()) return std::string();
    EXPECT_EQ(g_boxCaptions[0], "Error");
    return g_boxTexts[0];
  }

  ScriptedPort port_;
};

// A console that stays silent, or runs firmware older than 0.01.0000.05:
// one box, and the port is closed again.
TEST_F(StartupTest, RefusedDeviceShowsItsBoxAndClosesThePort) {
  struct Case {
    const char* answer;  // nullptr: silent
    const char* box;
  };
  const Case cases[] = {
      // The settings file and its keys follow: a first run's COM 1 may be anything.
      {nullptr,
       "Device not found!\n\nCheck if the SAS Expander device is properly attached to COM 3 and "
       "powered up.\n\nThe port is chosen in the settings file "},
      {"donz 0x06 0x88\r\nFirmware version: 0.01.0000.04\r\n>",
       "Version mismatch!\n\nThis utility can only be used for firmware v0.01.0000.05 or later."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.box);
    if (c.answer) AnswerVersionQuery(port_.exp(), c.answer);
    g_boxTexts.clear();
    g_boxCaptions.clear();
    EXPECT_FALSE(StartupOpenDevice());
    EXPECT_EQ(port_.exp().lastPort(), 3);
    const std::string box = OnlyBox();
    EXPECT_EQ(box.substr(0, strlen(c.box)), c.box);
    if (c.answer == nullptr) {
      EXPECT_NE(box.find("fwdl.ini: comport="), std::string::npos) << box;
    } else {
      EXPECT_EQ(box, c.box);
    }
    EXPECT_FALSE(is_open());
  }
}

TEST_F(StartupTest, UsableFirmwareKeepsThePortOpen) {
  AnswerVersionQuery(port_.exp(), "donz 0x06 0x88\r\nFirmware version: 0.01.0000.05\r\n>");
  EXPECT_TRUE(StartupOpenDevice());
  EXPECT_TRUE(g_boxTexts.empty());
  EXPECT_TRUE(is_open());
  EXPECT_EQ(g_start_ver.minor, 1u);
  EXPECT_EQ(g_start_ver.revision, 5u);
}

// The port box names the port twice and the settings file; a settings path
// long enough to push the text past 259 characters is cut, not overrun.
TEST_F(StartupTest, PortThatWillNotOpenNamesPortTwiceAndTheSettingsFile) {
  port_.exp().SetOpenResult(false);
  for (const std::string& ini : {std::string("C:\\tools\\fwdl.ini"),
                                "C:\\" + std::string(190, 'd') + "\\fwdl.ini"}) {
    SCOPED_TRACE(ini.size());
    g_boxTexts.clear();
    g_boxCaptions.clear();
    SetSettingsPathOverride(ini.c_str());
    EXPECT_FALSE(StartupOpenDevice());
    SetSettingsPathOverride(nullptr);
    std::string expected = "Unable to open COM 3!\n\nCheck if another application is using COM 3\n"
                           "Or\nModify the file " + ini + ", to specify another COM port.";
    EXPECT_EQ(OnlyBox(), expected.substr(0, 259));
  }
  EXPECT_TRUE(port_.exp().writes().empty());
}

TEST(StartupHintTest, BackendHintFollowsThePortBoxAfterAnEmptyLine) {
  ScopedVirtualClock clock;
  HintingExpander exp(clock.clock());
  exp.SetOpenResult(false);
  exp.hint = "Permission denied: join the dialout group.";
  SetSerialBackend(&exp);
  g_boxTexts.clear();
  g_boxCaptions.clear();
  SetReport(&DialogReport());
  SetAppMessageBox(RecordBox);
  my_cfg.comport = 1;

  EXPECT_FALSE(StartupOpenDevice());

  SetAppMessageBox(nullptr);
  SetReport(nullptr);
  SetSerialBackend(nullptr);
  ASSERT_EQ(g_boxTexts.size(), 1u);
  const std::string& text = g_boxTexts[0];
  EXPECT_EQ(text.rfind("Unable to open COM 1!\n\n", 0), 0u);
  const std::string tail = ", to specify another COM port.\n\nPermission denied: join the dialout group.";
  ASSERT_GE(text.size(), tail.size());
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

}  // namespace
