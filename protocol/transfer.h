// One packet to the expander: sub-packets acknowledged by "*", the status
// reply "@<digit>", recovery packets and retries.
//
// Everything here runs on the download worker, on the port and the clock in
// use, and reports only through the trace, the retry counters and
// ShowRetryStats (platform/report.h). Every wait gives way to a stop request
// at its next turn; none of them spins.
#pragma once
#include <atomic>
#include <cstdint>

// Set while the terminating header is sent: a failed packet then gets no
// further attempt. Cleared by enterdownloadmode.
extern std::atomic<uint32_t> g_bExitingDlMode;
// Failed attempts of the current download sequence: packets at offset 0
// (first packets and the terminating header), all other packets, and "*"
// waits that timed out. Cleared by the download procedure.
extern uint32_t g_dwStartRetryCount;
extern uint32_t g_dwNormalRetryCount;
extern uint32_t g_dwSubpacketTimeoutCount;

// Builds the packet for `size` payload bytes (none: the terminating header),
// sends it and awaits its status, retrying up to my_cfg.dlretry attempts
// (one while g_bExitingDlMode is set) with a recovery packet after each
// failure. True when accepted; false for size > 256, after the last failed attempt,
// always after a stop request, and at once, without a recovery packet, once
// the port is lost (IsComLost). Shows the retry statistics after each
// attempt once any counter is nonzero.
bool SendRawDataToComport(const uint8_t* pData, uint32_t size, uint32_t type, uint32_t dwOffset);
// Sends `n` packet bytes (at most 381) as one base64 line closed by 0x7F, in
// acknowledged sub-packets. True when every piece was acknowledged; false for
// a longer packet (nothing written), a port error, a missing "*" or a stop
// request. Says nothing about the packet's status reply.
bool fwdl_WriteCom(const uint8_t* bytes, uint32_t n);
// Writes the `n` characters of `line` in pieces of 12, purging the input
// before each and awaiting its "*". True when all were acknowledged; stops at
// the first failure or stop request and never writes the rest after it.
bool SendSubpackets(const char* line, uint32_t n);
// Waits up to my_cfg.dlnormaldelay seconds for a "*". True on "*" and, at
// once, on a stop request (the caller tells the two apart); false on a
// time-out, which counts in g_dwSubpacketTimeoutCount, and at once, without
// counting, once the port is lost.
bool QueryWriteSubpacketStatus();
// Waits up to `seconds` whole seconds for the status digit. True for '0' or
// '1' (the last digit of the first read that brings one) and, at once, on a
// stop request; false for a higher digit or a time-out, and at once once the
// port is lost. Consumes what it reads.
bool QueryWriteComStatus(uint32_t seconds);
// Sends the recovery packet (awaiting its "*"s, ignoring its outcome and any
// status reply), then pauses 10 ms.
void sendrecoverypacket();
// Writes `n` bytes to the trace as hex, eight to a line.
void DumpPacket(const uint8_t* bytes, uint32_t n);
