// One packet to the expander: its line in acknowledged sub-packets, the status
// reply, recovery packets and retries.
//
// The dwTestPoint values and the trace texts of this file are what field
// support reads from a trace and from the markers written on Quit: keep their
// numbers, their wording and their order, even where two markers follow each
// other with nothing between them.
#include "protocol/transfer.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "platform/trace.h"
#include "config/settings.h"
#include "platform/clock.h"
#include "platform/report.h"
#include "protocol/packet.h"
#include "serial/serial_port.h"

std::atomic<uint32_t> g_bExitingDlMode{0};
uint32_t g_dwStartRetryCount = 0;
uint32_t g_dwNormalRetryCount = 0;
uint32_t g_dwSubpacketTimeoutCount = 0;

namespace {

// The step traces of a packet are written only for a packet sent again or
// after a failed step, so that a clean download keeps its trace short.
bool TraceStep(int32_t retry, bool ret) { return retry > 1 || !ret; }

// Longest sleep between two turns of a reply wait, ms: short enough that a stop
// request is seen promptly, long enough that a silent line costs no CPU.
constexpr int64_t kTurnMs = 50;
// Capacity of a line: base64 text plus 0x7F (the longest packet needs 353).
constexpr uint32_t kLineBufChars = 512;
constexpr uint32_t kMaxLineInput = (kLineBufChars - 1) / 4 * 3;

// How long the next sleep of a reply wait may last, ms: until the first calendar
// second at which more than `limit` seconds have passed since `startSec`, at
// most kTurnMs, at least 1. The real clock's millisecond count is steady and
// not tied to the calendar second, so there the fraction of the current second
// is unknown and the wait may overshoot its deadline by under kTurnMs; a clock
// whose milliseconds follow the calendar lets the wait end on the second.
uint32_t TurnBound(int64_t startSec, int64_t limit) {
  Clock& clock = GetClock();
  int64_t nowSec = clock.NowSeconds();
  int64_t nowMs = clock.NowMs();
  int64_t endSec = startSec + limit + 1;
  int64_t left = (nowMs / 1000 == nowSec) ? endSec * 1000 - nowMs : (endSec - nowSec) * 1000;
  return static_cast<uint32_t>(std::max<int64_t>(1, std::min(left, kTurnMs)));
}

// Sleeps between two turns of a reply wait. A failed read is not a sign of
// input to come, so it gets a plain pause: a port that keeps failing while
// reporting input must not turn the wait into a spin.
void BetweenTurns(bool readOk, int64_t startSec, int64_t limit) {
  uint32_t bound = TurnBound(startSec, limit);
  if (readOk) {
    WaitComInput(bound);
  } else {
    PauseMs(bound);
  }
}

// The bytes received during one reply wait, for the traces. Bytes past the
// 256th keep overwriting the last positions.
struct ReplyLog {
  uint8_t logbuf[260];
  uint32_t dwlogcount;

  ReplyLog() : dwlogcount(0) { memset(logbuf, 0, sizeof logbuf); }
  // n is at most 2, so the copy ends inside logbuf (dwlogcount stays <= 257).
  void Add(const uint8_t* bytes, uint32_t n) {
    memcpy(&logbuf[dwlogcount], bytes, n);
    if (dwlogcount < 256) dwlogcount += n;
  }
  void Trace() const {
    DbgTrace("dwlogcount =%d\n", static_cast<int>(dwlogcount));
    DbgTrace("(%x,%x,%x,%x)\n", logbuf[0], logbuf[1], logbuf[2], logbuf[3]);
  }
};

// A status time-out from the settings file; a negative one means no wait
// rather than, read as unsigned, one that never ends.
uint32_t StatusLimit(int32_t seconds) { return seconds < 0 ? 0 : static_cast<uint32_t>(seconds); }

void ShowRetryStatsIfAny() {
  if (g_dwStartRetryCount == 0 && g_dwNormalRetryCount == 0 && g_dwSubpacketTimeoutCount == 0)
    return;
  char text[260];
  snprintf(text, sizeof text, "Retry Stats: (%d, %d, %d)", static_cast<int>(g_dwStartRetryCount),
           static_cast<int>(g_dwNormalRetryCount), static_cast<int>(g_dwSubpacketTimeoutCount));
  ShowRetryStats(text, RetryStats{g_dwStartRetryCount, g_dwNormalRetryCount,
                                  g_dwSubpacketTimeoutCount});
}

}  // namespace

void DumpPacket(const uint8_t* bytes, uint32_t n) {
  uint32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    DbgTrace("%x, %x, %x, %x, %x, %x, %x, %x", bytes[i], bytes[i + 1], bytes[i + 2], bytes[i + 3],
             bytes[i + 4], bytes[i + 5], bytes[i + 6], bytes[i + 7]);
  }
  for (; i < n; ++i) DbgTrace("%x", bytes[i]);
}

bool QueryWriteSubpacketStatus() {
  int64_t start = NowSeconds();
  dwTestPoint = 9;
  ReplyLog log;
  // A negative setting means no wait, as in the status wait.
  const int64_t limit = StatusLimit(my_cfg.dlnormaldelay);
  // Right after a piece is written its "*" cannot be there yet: sleep until it
  // is rather than open with a read that finds nothing.
  if (!IsDlStopped() && !IsComLost()) WaitComInput(TurnBound(start, limit));
  for (;;) {
    // A port that is gone brings no "*" however long the wait: not a time-out.
    if (IsComLost()) {
      DbgTrace("QueryWriteSubpacketStatus: port lost\n");
      return false;
    }
    if (NowSeconds() - start > limit) {
      DbgTrace("QueryWriteSubpacketStatus timeout\n");
      log.Trace();
      ++g_dwSubpacketTimeoutCount;
      return false;
    }
    // A stop request releases the wait at once; the caller must not take
    // this for an acknowledgement (SendRawDataToComport checks the request).
    if (IsDlStopped()) return true;
    uint8_t ReadBuf[1];
    uint32_t iBytesRead = 0;
    bool ok = MyReadFile(ReadBuf, 1, &iBytesRead);
    if (!ok || iBytesRead == 0) {
      BetweenTurns(ok, start, limit);
      continue;
    }
    log.Add(ReadBuf, iBytesRead);
    if (ReadBuf[0] == '*') return true;
  }
}

bool QueryWriteComStatus(uint32_t seconds) {
  int64_t start = NowSeconds();
  dwTestPoint = 7;
  bool bLeadFound = false;
  uint8_t tmp = 0xFF;
  ReplyLog log;
  // The status reply follows the last "*" on the line; wait for it first.
  if (!IsDlStopped() && !IsComLost()) WaitComInput(TurnBound(start, seconds));
  for (;;) {
    if (IsComLost()) {
      DbgTrace("QueryWriteComStatus: port lost\n");
      return false;
    }
    int64_t elapsed = NowSeconds() - start;
    dwTestPoint = 701;
    if (elapsed > static_cast<int64_t>(seconds)) {
      DbgTrace("QueryWriteComStatus timeout(%d seconds)\n", static_cast<int>(seconds));
      DbgTrace("bLeadFound=%d\n", bLeadFound ? 1 : 0);
      log.Trace();
      return false;
    }
    if (IsDlStopped()) return true;
    uint8_t ReadBuf[2];
    uint32_t iBytesRead = 0;
    dwTestPoint = 702;
    bool bret = MyReadFile(ReadBuf, 2, &iBytesRead);
    dwTestPoint = 703;
    if (!bret || iBytesRead == 0) {
      BetweenTurns(bret, start, seconds);
      continue;
    }
    log.Add(ReadBuf, iBytesRead);
    // Within one read the last digit counts; the wait ends with the first
    // read that brings any digit.
    for (uint32_t i = 0; i < iBytesRead; ++i) {
      if (ReadBuf[i] == '@') {
        bLeadFound = true;
      } else if (ReadBuf[i] >= '0' && ReadBuf[i] <= '9') {
        tmp = ReadBuf[i];
      }
    }
    if (tmp == 0xFF) continue;
    if (tmp > '1') {
      DbgTrace("Error: tmpr > 1\n");
      DbgTrace("tmp=0x%x\n", tmp);
      DbgTrace("bLeadFound=%d\n", bLeadFound ? 1 : 0);
      DbgTrace("bret=%d\n", bret ? 1 : 0);
      log.Trace();
    }
    if (!bLeadFound) {
      DbgTrace("bLeadFound=%d\n", 0);
      log.Trace();
    }
    dwTestPoint = 8;
    return tmp <= '1';
  }
}

bool SendSubpackets(const char* line, uint32_t n) {
  uint32_t pos = 0;
  while (n > 0) {
    uint32_t piece = std::min(n, kSubpacketChars);
    // Whatever the expander said since the last piece (a late status reply to
    // a recovery packet, console noise) must not be read as this piece's "*".
    PurgeCom();
    dwTestPoint = 300;
    bool ok = SendAndProcessCmd(nullptr, 0, reinterpret_cast<const uint8_t*>(line + pos), piece);
    dwTestPoint = 301;
    if (!ok) {
      DbgTrace("SendAndProcessCmd(QueryWriteSubpacketStatus): FALSE\n");
      return false;
    }
    if (!QueryWriteSubpacketStatus()) {
      DbgTrace("QueryWriteSubpacketStatus()==FALSE\n");
      return false;
    }
    // A stop ends the "*" wait at once, without the acknowledgement. The rest
    // of the line is not pushed after it: the expander takes a piece only
    // once it has answered the one before, and the packet counts as failed.
    if (IsDlStopped()) return false;
    pos += piece;
    n -= piece;
  }
  return true;
}

bool fwdl_WriteCom(const uint8_t* bytes, uint32_t n) {
  char base64_buf[kLineBufChars];
  dwTestPoint = 200;
  // Packets are at most 264 bytes; anything that would not fit the line
  // buffer is refused rather than written past it.
  if (n > kMaxLineInput) return false;
  int32_t len = Base64Encode(base64_buf, bytes, n);
  dwTestPoint = 201;
  if (len <= 0) return false;
  base64_buf[len++] = static_cast<char>(kLineEnd);
  dwTestPoint = 202;
  bool ok = SendSubpackets(base64_buf, static_cast<uint32_t>(len));
  dwTestPoint = 203;
  return ok;
}

void sendrecoverypacket() {
  uint8_t pkt[kRecoveryPacketSize];
  BuildRecoveryPacket(pkt);
  DbgTrace("sendrecoverypacket called");
  // Its acknowledgements are awaited as usual; its outcome changes nothing.
  fwdl_WriteCom(pkt, kRecoveryPacketSize);
  PauseMs(10);
}

bool SendRawDataToComport(const uint8_t* pData, uint32_t size, uint32_t type, uint32_t dwOffset) {
  dwTestPoint = 0;
  if (size > kMaxPayload) return false;
  dwTestPoint = 1;
  uint8_t hdr[kMaxPacket];
  const uint32_t len = BuildPacket(hdr, pData, size, type, dwOffset);
  if (pData != nullptr) dwTestPoint = 2;
  const uint8_t chksum = hdr[offsetof(FWDL_PKT_HDR, chksum)];
  const int offset = static_cast<int>(dwOffset);

  bool ret = true;
  int32_t retry = 0;
  for (;;) {
    if (IsDlStopped() || IsComLost()) {
      ret = false;
      break;
    }
    if (TraceStep(retry, ret)) DbgTrace("SendRawDataToComport(retry=%d)--1", retry);
    dwTestPoint = 3;
    dwTestPoint = 31;
    dwTestPoint = 4;
    if (TraceStep(retry, ret)) DbgTrace("SendRawDataToComport(retry=%d)--2", retry);

    ret = fwdl_WriteCom(hdr, len);
    if (!ret) {
      DbgTrace("chksum=0x%x, size=%d, dwOffset=%d\n", chksum, static_cast<int>(size), offset);
      DbgTrace("fwdl_WriteCom= FALSE\n");
    }
    dwTestPoint = 5;
    if (TraceStep(retry, ret)) DbgTrace("fwdl_WriteCom--3");

    // An image's first packet waits up to dlstartdelay, every other one up to
    // dlnormaldelay; the terminating header has offset 0 and waits as long as a first packet.
    uint32_t limit;
    if (dwOffset == 0) {
      DbgTrace("my_cfg.dlstartdelay=%d seconds", my_cfg.dlstartdelay);
      DbgTrace("my_cfg.dlnormaldelay=%d seconds", my_cfg.dlnormaldelay);
      DbgTrace("my_cfg.dlretry=%d times", my_cfg.dlretry);
      limit = StatusLimit(my_cfg.dlstartdelay);
    } else {
      limit = StatusLimit(my_cfg.dlnormaldelay);
    }
    // The status reply alone decides the attempt, even when the line was cut short.
    ret = QueryWriteComStatus(limit);
    dwTestPoint = 6;
    // Neither a recovery packet nor another attempt can reach a port that is
    // gone, and the failure is no retry of the expander's.
    if (!ret && IsComLost()) break;
    if (!ret) {
      if (dwOffset == 0) {
        ++g_dwStartRetryCount;
      } else {
        ++g_dwNormalRetryCount;
      }
      DbgTrace("chksum=0x%x, size=%d KB, dwOffset=%d\n", chksum, static_cast<int>(size / 1024),
               offset);
      DbgTrace("QueryWriteComStatus: FALSE\n");
      DumpPacket(hdr, len);
      sendrecoverypacket();
    }
    if (TraceStep(retry, ret)) DbgTrace("fwdl_WriteCom--4");
    ++retry;
    if (TraceStep(retry, ret)) {
      DbgTrace("chksum=0x%x, size=%d KB, dwOffset=%d\n", chksum, static_cast<int>(size / 1024),
               offset);
      DbgTrace("SendRawDataToComport(retry=%d)\n", retry);
    }
    if (!ret && g_bExitingDlMode) break;
    ShowRetryStatsIfAny();
    if (ret || retry >= my_cfg.dlretry) break;
  }
  // The waits hand back at once on a stop request, without a reply: the packet
  // is then unconfirmed, and a stopped download must never read as a success.
  if (ret && IsDlStopped()) ret = false;
  if (!ret) DbgTrace("SendRawDataToComport: ret=FALSE\n");
  return ret;
}
