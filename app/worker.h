// The download worker thread.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "console/version.h"
#include "platform/report.h"

// 1 from an accepted StartTestThread until HandleCmds has finished.
extern std::atomic<uint32_t> g_bThreadRunning;

// Starts the worker for command `cmdid` unless one is running.
void StartTestThread(uint16_t cmdid);
// The thread routine; returns the thread's exit code 1.
uint32_t HandleCmds(uint32_t cmdid);
// The download of the image file at `path` with its result in the status
// line and the history: DownloadAndSetDefaults, ShowDownloadResult,
// RecordDownload. Returns the record.
DownloadRecord DownloadAndShowResult(const char* path);
// DownloadImageFile, then on success the success text and the factory
// defaults where NeedToSetFactoryDefVer says so, or where an earlier download
// on this port left them due (the history); the record notes whether they
// were due and written. The worker and the command line both download
// through it.
DownloadRecord DownloadAndSetDefaults(const char* path);
// The status line's result text for `record`, into its text and the status
// line: on success the power-cycle text, on failure the text for its cause,
// each as the record's advice says.
void ShowDownloadResult(DownloadRecord* record);
// The advice of the last download a worker showed (kNone before any): what a
// front end says on leaving after a Quit stopped one.
DownloadAdvice LastWorkerAdvice();
// Who downloads, on which port, for the download history: the program's
// name, the port as named and its stable identity (PortIdentity). Set by the
// front end once it knows its port, before a download starts.
void SetDownloadPort(const std::string& program, const std::string& port,
                     const std::string& portId);
// Appends the record of the download of `path` that just ended to the
// history, with tarnwick-cli's exit code (-1: none).
void RecordDownload(const DownloadRecord& record, const char* path, int exitCode);
// True if the factory defaults must be written after a successful download.
bool NeedToSetFactoryDefVer();

// The front end's hold on the host while the worker downloads: called on the
// worker thread with true just before a download and with false once its
// result is shown, on every way out. Null (the default): nothing is held.
using DownloadHoldFn = void (*)(bool downloading);
void SetDownloadHold(DownloadHoldFn fn);
// The reason shown beside a hold on the host while `ports` are written:
// "Writing firmware to the SAS Expander on /dev/ttyUSB0: do not power off".
std::string HostHoldReason(const std::vector<std::string>& ports);
// Whether a download over firmware `running` writes the factory defaults: the
// rule on the running version, or defaults an earlier download on this port
// left due (FactoryDefaultsPending of its history). What the download does
// and what `tarnwick-cli plan` foretells both come from here.
bool FactoryDefaultsDue(const FW_VERSION& running, bool leftDue);
