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
// The download of the image file at `path` with its result in the status
// line: fmdl_download, then on success the factory defaults where
// NeedToSetFactoryDefVer says so and the power-cycle text, on failure the
// text for LastDownloadFailure(). Returns fmdl_download's result. The worker
// and the command-line front end both download through it.
bool DownloadAndShowResult(const char* path);
// True if the factory defaults must be written after a successful download.
bool NeedToSetFactoryDefVer();
