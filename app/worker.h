// The download worker thread.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

// 1 from an accepted StartTestThread until HandleCmds has finished.
extern std::atomic<uint32_t> g_bThreadRunning;

// Starts the worker for command `cmdid` unless one is running.
void StartTestThread(uint16_t cmdid);
// The thread routine; returns the thread's exit code 1.
uint32_t HandleCmds(uint32_t cmdid);
// The download of the image file at `path` with its result in the status
// line: DownloadAndSetDefaults, then ShowDownloadResult. Returns
// fmdl_download's result.
bool DownloadAndShowResult(const char* path);
// fmdl_download, then on success the success text and the factory defaults
// where NeedToSetFactoryDefVer says so. The worker and the command line both
// download through it.
bool DownloadAndSetDefaults(const char* path);
// The status line's result text for the download that just ended: the
// power-cycle text on success, on failure the text for LastDownloadFailure().
// Then hands the installed report the download's record with that text.
void ShowDownloadResult(bool ok);
// True if the factory defaults must be written after a successful download.
bool NeedToSetFactoryDefVer();
// What the system shows while a download holds off a shutdown, a logoff or
// sleep (ShutdownHold): the port(s), `ports` as the user's texts name them,
// and not to power off.
std::string DownloadHoldReason(const std::string& ports);
