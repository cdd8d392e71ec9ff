// The device control block the port applies, with and without the event
// character.
#include "serial/line_settings_win32.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// The block as the line has always been set, field by field.
DCB Expected() {
  DCB dcb;
  memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = 115200;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = 1;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  return dcb;
}

TEST(LineSettingsTest, EventCharacterIsTheOnlyDifference) {
  struct Case {
    bool eventChar;
    char evtChar;
  } cases[] = {{false, 0}, {true, '*'}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.eventChar ? "eventchar=1" : "eventchar=0");
    DCB want = Expected();
    want.EvtChar = c.evtChar;
    const DCB got = PortLineSettings(c.eventChar);
    EXPECT_EQ(got.EvtChar, c.evtChar);
    // Byte for byte, bit fields included.
    EXPECT_EQ(memcmp(&got, &want, sizeof got), 0);
  }
}

}  // namespace
