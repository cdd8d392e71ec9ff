// The firmware version query on the expander's console.
#pragma once
#include <cstdint>

struct FW_VERSION {
  uint32_t major;
  uint32_t minor;
  uint32_t build;
  uint32_t revision;
};

// The version found at start-up, refreshed at the start of each download.
extern FW_VERSION g_start_ver;

// Asks the console for the running version, waiting `timeout` whole seconds
// (then up to three repeated queries). -1: no usable answer (version left
// unchanged), also at once once the port is lost; 0: no version found (version all zero) or older than
// 0.01.0000.05; 1: accepted, `ver` filled.
int32_t CheckFirmwareVer(FW_VERSION* ver, uint32_t timeout);
// Finds the first four-number version in `text` (changed in place: control
// bytes become ','), fills `ver`, and applies the minimum-version rule.
int32_t IsNeededVer(char* text, FW_VERSION* ver);
