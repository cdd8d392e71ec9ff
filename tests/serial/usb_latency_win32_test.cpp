// The adapter driver's LatencyTimer, found through a registry tree the test makes.
#include "serial/usb_latency.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

const char kRoot[] = "Software\\tarnwick-test\\FTDIBUS";

void Port(const char* instance, const char* name, DWORD timer, bool withTimer) {
  std::string path = std::string(kRoot) + "\\" + instance + "\\0000\\Device Parameters";
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, "PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name),
                 static_cast<DWORD>(strlen(name) + 1));
  if (withTimer) {
    RegSetValueExA(key, "LatencyTimer", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&timer),
                   sizeof timer);
  }
  RegCloseKey(key);
}

TEST(UsbLatencyRegistryTest, FindsTheTimerOfTheNamedPort) {
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\tarnwick-test");
  Port("VID_0403+PID_6001+A1", "COM3", 16, true);
  Port("VID_0403+PID_6001+B2", "COM12", 1, true);
  Port("VID_0403+PID_6001+C3", "COM7", 0, false);
  const std::string root = std::string("HKCU\\") + kRoot;
  struct Case {
    const char* port;
    bool usb;
    int ms;
    LatencyVerdict verdict;
  } cases[] = {
      {"COM3", true, 16, LatencyVerdict::kWarn},
      {"com12", true, 1, LatencyVerdict::kLeaveAlone},
      {"COM7", true, -1, LatencyVerdict::kLeaveAlone},
      {"COM1", false, -1, LatencyVerdict::kLeaveAlone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.port);
    UsbLatency found = InspectUsbLatency(root, c.port);
    EXPECT_EQ(found.usb, c.usb);
    EXPECT_EQ(found.timerMs, c.ms);
    EXPECT_EQ(DecideLatency(found, false), c.verdict);
  }
  LatencyTuner tuner;
  EXPECT_NE(tuner.OnOpen(0, root, "COM3", false).find("Device Manager"), std::string::npos);
  EXPECT_EQ(tuner.OnOpen(0, root, "COM12", false), "");
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\tarnwick-test");
}

}  // namespace
