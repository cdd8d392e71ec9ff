// Start-up boxes on Linux, where the settings may name the serial device.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/dialog_api.h"
#include "app/startup.h"
#include "config/settings.h"
#include "support/scripted_expander.h"

namespace {

std::vector<std::string> g_texts;

int RecordBox(const char* text, const char*, unsigned) {
  g_texts.emplace_back(text);
  return kIdOk;
}

// With `device=` the boxes name that device, not the COM number it replaces.
TEST(StartupDeviceTest, BoxesNameTheConfiguredDevice) {
  ScopedVirtualClock clock;
  ScriptedExpander exp(clock.clock());
  SetSerialBackend(&exp);
  SetReport(&DialogReport());
  SetAppMessageBox(RecordBox);
  memset(&my_cfg, 0, sizeof my_cfg);
  my_cfg.comport = 1;
  strcpy(my_cfg.device, "/dev/ttyUSB7");
  g_texts.clear();

  EXPECT_FALSE(StartupOpenDevice());  // silent console
  exp.SetOpenResult(false);
  EXPECT_FALSE(StartupOpenDevice());

  SetAppMessageBox(nullptr);
  SetReport(nullptr);
  SetSerialBackend(nullptr);
  memset(my_cfg.device, 0, sizeof my_cfg.device);
  ASSERT_EQ(g_texts.size(), 2u);
  EXPECT_EQ(g_texts[0].rfind("Device not found!\n\nCheck if the SAS Expander device is properly "
                             "attached to /dev/ttyUSB7 and powered up.\n\nThe port is chosen in "
                             "the settings file ",
                             0),
            0u);
  EXPECT_NE(g_texts[0].find("or device="), std::string::npos) << g_texts[0];
  EXPECT_EQ(g_texts[1].rfind("Unable to open /dev/ttyUSB7!\n\nCheck if another application is "
                             "using /dev/ttyUSB7\nOr\nModify the file ",
                             0),
            0u);
}

}  // namespace
