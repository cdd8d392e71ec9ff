// The download worker thread.
#pragma once
#include <atomic>
#include <cstdint>

// 1 from an accepted StartTestThread until HandleCmds has finished.
extern std::atomic<uint32_t> g_bThreadRunning;

// Starts the worker for command `cmdid` unless one is running.
void StartTestThread(uint16_t cmdid);
// The thread routine; returns the thread's exit code 1.
uint32_t HandleCmds(uint32_t cmdid);
// True if the factory defaults must be written after a successful download.
bool NeedToSetFactoryDefVer();
