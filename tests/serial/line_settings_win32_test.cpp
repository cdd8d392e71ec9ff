// The device control block the port applies, with and without the event
// character.
#include "serial/line_settings_win32.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// 115200 8N1, DTR and RTS on, no flow control of any kind: what the console
// needs, read off the block the port applies.
TEST(LineSettingsTest, LineIs115200EightNoneOneWithoutFlowControl) {
  const DCB got = PortLineSettings(false);
  const struct {
    const char* field;
    unsigned long value, want;
  } fields[] = {
      {"DCBlength", got.DCBlength, sizeof(DCB)},
      {"BaudRate", got.BaudRate, 115200},
      {"ByteSize", got.ByteSize, 8},
      {"Parity", got.Parity, NOPARITY},
      {"StopBits", got.StopBits, ONESTOPBIT},
      {"fBinary", got.fBinary, 1},
      {"fDtrControl", got.fDtrControl, DTR_CONTROL_ENABLE},
      {"fRtsControl", got.fRtsControl, RTS_CONTROL_ENABLE},
      {"fParity", got.fParity, 0},
      {"fOutxCtsFlow", got.fOutxCtsFlow, 0},
      {"fOutxDsrFlow", got.fOutxDsrFlow, 0},
      {"fDsrSensitivity", got.fDsrSensitivity, 0},
      {"fOutX", got.fOutX, 0},
      {"fInX", got.fInX, 0},
      {"fAbortOnError", got.fAbortOnError, 0},
      {"EvtChar", static_cast<unsigned long>(got.EvtChar), 0},
  };
  for (const auto& f : fields) EXPECT_EQ(f.value, f.want) << f.field;
}

// With the event character the block differs in it alone, byte for byte.
TEST(LineSettingsTest, EventCharacterIsTheOnlyDifference) {
  DCB want = PortLineSettings(false);
  want.EvtChar = '*';
  const DCB got = PortLineSettings(true);
  EXPECT_EQ(got.EvtChar, '*');
  EXPECT_EQ(memcmp(&got, &want, sizeof got), 0);
}

}  // namespace
