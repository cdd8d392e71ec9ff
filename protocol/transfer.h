// One packet to the expander: sub-packets acknowledged by "*", the status
// reply "@<digit>", recovery packets and retries.
#pragma once
#include <atomic>
#include <cstdint>

extern std::atomic<uint32_t> g_bExitingDlMode;
extern uint32_t g_dwStartRetryCount;
extern uint32_t g_dwNormalRetryCount;
extern uint32_t g_dwSubpacketTimeoutCount;

// Builds the packet for `size` payload bytes (none: the terminating header),
// sends it and awaits its status, retrying up to my_cfg.dlretry attempts.
// True when accepted. Never true after a stop request.
bool SendRawDataToComport(const uint8_t* pData, uint32_t size, uint32_t type, uint32_t dwOffset);
bool fwdl_WriteCom(const uint8_t* bytes, uint32_t n);
bool SendSubpackets(const char* line, uint32_t n);
bool QueryWriteSubpacketStatus();
bool QueryWriteComStatus(uint32_t seconds);
void sendrecoverypacket();
void DumpPacket(const uint8_t* bytes, uint32_t n);
