// Download mode and the blocks of one image. Its dwTestPoint values and trace
// texts are read by field support (see transfer.cpp): keep them as they are.
#include "protocol/single_image.h"

#include <cstdint>

#include "platform/report.h"
#include "image/fw_image.h"
#include "platform/clock.h"
#include "platform/trace.h"
#include "protocol/packet.h"
#include "protocol/transfer.h"
#include "serial/serial_port.h"

void enterdownloadmode() {
  DbgTrace("enterdownloadmode called\n");
  g_bExitingDlMode = 0;
  // The console's answers to these commands are not read; fmdl_downloadEx
  // purges them before the first packet.
  PauseMs(100);
  WriteCom("wm32 -m 0xa8200094 -v 0x5b7d2e94");
  PauseMs(100);
  WriteCom("donz 0x06 17 1");
  PauseMs(100);
}

void exitdownloadmode() {
  DbgTrace("exitdownloadmode called\n");
  // After a stop request the expander is left as it is: nothing more goes out.
  if (IsDlStopped()) return;
  if (IsComLost()) {
    DbgTrace("exitdownloadmode: port lost\n");
    return;
  }
  // Set first, so that a failed terminating header gets a single attempt.
  g_bExitingDlMode = 1;
  DbgTrace("***sending terminating hdr***");
  SendRawDataToComport(nullptr, 1, 0, 0);
}

bool fmdl_downloadEx(const char* path) {
  bool bret = true;
  PurgeCom();
  uint32_t bytecount = 0;
  uint8_t* data_buffer = ReadWholeFile(path, &bytecount);
  if (data_buffer == nullptr) {
    DbgTrace("data_buffer == NULL");
    return false;
  }
  DbgTrace("fmdl_downloadEx(%s):\n", path);
  DbgTrace("file size=%d KB\n", static_cast<int>(bytecount / 1024));
  DbgTrace("bytecount=%d bytes\n", static_cast<int>(bytecount));

  uint32_t remaining = bytecount;
  uint32_t offset = 0;
  while (remaining > 0) {
    if (IsDlStopped()) {
      bret = false;
      break;
    }
    uint32_t block = remaining > kMaxPayload ? kMaxPayload : remaining;
    remaining -= block;
    dwTestPoint = 11;
    dwTestPoint = 12;
    // Credited before the send, so the display moves while the expander works.
    UpdateProgress(block);
    dwTestPoint = 13;
    dwTestPoint = 14;
    bret = SendRawDataToComport(data_buffer + offset, block, 0, offset);
    dwTestPoint = 15;
    if (!bret) {
      // A stop request is the user's decision, not a download error.
      if (IsDlStopped()) break;
      DbgTrace("fmdl_downloadEx(bret=flase)");
      DbgTrace("\n");
      DbgTrace("file size=%d KB\n", static_cast<int>(bytecount / 1024));
      DbgTrace("Download firmware error, offset=%d bytes\n", static_cast<int>(offset));
      break;
    }
    offset += block;
  }
  delete[] data_buffer;

  // A stop request raised while the last block was under way still fails the image.
  if (IsDlStopped()) bret = false;
  if (bret) UpdateProgress(256);
  DbgTrace("fmdl_downloadEx returned");
  PauseMs(200);
  return bret;
}
