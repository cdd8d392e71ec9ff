// How the core reports to whichever front end runs it: the status line, the
// progress, the retry statistics, the locking of the file controls and the
// few message boxes the core raises itself. The core knows no window and no
// control; it calls the functions at the end of this file (the dialog API),
// which do the formatting and arithmetic once and hand the result to the
// CoreReport installed by the front end.
//
// One thing runs the other way: the stop request. The front end sets
// g_bStopDl (a flag, so that a signal handler may set it too) and the core
// polls it through IsDlStopped() between its steps.
//
// Each front end installs its own CoreReport with SetReport (the two dialogs
// share one). A front end that shows nothing installs nothing, or one that
// overrides only what it wants to see.
#pragma once
#include <atomic>
#include <cstdint>

// Message box styles and answers, with the values Windows gives them.
// kMbDefButton2 may be or-ed to a Yes/No box: No is then the default, the
// button Enter presses.
enum : unsigned { kMbOk = 0x0, kMbYesNo = 0x4, kMbDefButton2 = 0x100 };
enum : int { kIdOk = 1, kIdYes = 6, kIdNo = 7 };
// True for a Yes/No box, whatever its default button.
inline bool IsYesNoBox(unsigned type) { return (type & 0xF) == kMbYesNo; }

// One update of the progress display.
struct ProgressReport {
  uint32_t bytesSent;   // credited so far (g_dwBytesSent)
  uint32_t totalBytes;  // the whole file (g_dwTotalFileSize)
  int percent;          // 0..100; -1 when this update brings no new percentage
  int elapsedSeconds;   // since g_dlStartTime, calendar seconds
};

// The failure counters of the current download sequence, beside their text.
struct RetryStats {
  uint32_t startRetries;       // first packets of an image sent again
  uint32_t normalRetries;      // other packets sent again
  uint32_t subpacketTimeouts;  // acknowledgements that did not come
};

// Why a download failed, as DownloadImageFile (download/download.h) finds it.
// Defined here with the record that carries it, below every layer that reads
// the record (the download, its history and the front ends).
// The first group ends a download before download mode was entered: nothing
// was written, the expander runs as before and needs no power cycle.
enum class DownloadFailure {
  kNone,            // the download succeeded
  kConsoleSilent,   // the console did not answer the status check
  kNoVersion,       // the running version could not be read
  kBadImage,        // the parse found no image to send in the file (or refused it)
  kStoppedBeforeWrite,    // a stop request (or Quit) before download mode
  kPortLostBeforeWrite,   // the serial port went away before download mode
  kNotWritten,      // any other failure before download mode (no temporary folder)
  // Download mode was entered.
  kFailed,          // any other failure: an image failed, a stop request, no answer after a reboot
  kNotConfirmed,    // every firmware attempt rebooted into the version that ran before
  kBootloader,      // a bootloader image failed (the firmware before it may be new)
  kPortLost,        // the serial port went away (cable, adapter) before the bootloader
  kPortLostInBootloader,  // the serial port went away while a bootloader image was written
  kPortLostAtEnd,   // every image was accepted; the port went while download mode was left
};

// How much of the image file reached the expander.
enum class DownloadWritten { kNothing, kPartly, kAll };

// What the user is to do about the expander's power once the download ended,
// decided by the download (download/download.cpp) and said by every front end.
enum class DownloadAdvice {
  kNone,             // nothing to say: nothing was written, or the next download finishes it
  kPowerCycle,       // power cycle the system (new firmware, or half-written)
  kDoNotPowerCycle,  // the bootloader is not written: a power cycle may leave it dead
};

// A firmware version as the download read it from the console.
struct DownloadVersion {
  bool known;  // false: not read (the fields are zero)
  uint32_t major, minor, build, revision;
};

// One image of the file as the download left it.
struct DownloadImage {
  uint8_t part;   // 0x06 firmware, 0xFF bootloader, ...
  bool accepted;  // every packet of it was accepted (its last attempt)
};

// How one download ended, returned by the download and kept in the download
// history.
struct DownloadRecord {
  bool ok;                    // the file was downloaded
  DownloadFailure cause;      // kNone when ok
  DownloadWritten written;    // kAll when ok, or when only leaving download mode failed
  uint32_t firmwareAttempts;  // on the path with rebooting; 0 on the normal path
  DownloadVersion before;     // the running version read at the download's start
  DownloadVersion after;      // read after the last reboot (path with rebooting only)
  DownloadVersion fileVersion;  // the file's version record (known: it has one)
  char sha256[65];            // of the bytes parsed and sent, lower-case hex; "" if never read
  uint32_t numImages;         // entries of `images` in use, in download order
  DownloadImage images[16];
  bool defaultsDue;           // the factory defaults were to be written after this download
  bool defaultsWritten;       // ... and were
  DownloadAdvice advice;      // about a power cycle now
  uint32_t fileError;         // the system's error of the file step that failed it (0: none)
  char text[260];             // the result text the status line shows
};

// What a front end implements. Every default does nothing, except MessageBox,
// which only traces. Calls come from the download worker and from the
// thread that runs the dialog, so an implementation that keeps state guards
// it; it must not call back into the dialog API.
class CoreReport {
 public:
  virtual ~CoreReport() = default;
  // The status line; `text` is at most 259 characters and may be "" (clear).
  virtual void ShowStatus(const char* text);
  // The percentage, bar and elapsed seconds.
  virtual void ShowProgress(const ProgressReport& progress);
  // "Retry Stats: (%d, %d, %d)" of the current download sequence with the
  // same counters as numbers; "" (all zero) clears it.
  virtual void ShowRetryStats(const char* text, const RetryStats& stats);
  // Unlocks (true) or locks (false) what would start another download: the
  // file box, Browse and Start in the dialogs.
  virtual void EnableControls(bool enable);
  // A message box no dialog owns (start-up failures, out of memory): kMbOk or
  // kMbYesNo; returns kIdOk, kIdYes or kIdNo. The default writes
  // "<caption>: <text>" to the trace and answers kIdOk (kIdNo for Yes/No).
  virtual int MessageBox(const char* text, const char* caption, unsigned type);
};

// Installs `report` (not owned, must outlive its use); nullptr restores the
// default, which shows nothing. Call before the worker starts.
void SetReport(CoreReport* report);
// The report in use; never null.
CoreReport& GetReport();

// --- The dialog API: the core's side of the interface. ---

// Stop request: set by the front end (Quit, Stop), cleared by Start and when a
// download ends. Read with IsDlStopped().
extern std::atomic<uint32_t> g_bStopDl;
// Bytes credited to the progress display so far.
extern std::atomic<uint32_t> g_dwBytesSent;
// Origin of the elapsed-seconds display (calendar seconds).
extern std::atomic<int64_t> g_dlStartTime;
// The byte count shown as 100 %: the size of the parsed image file, set by
// ParseFwFile. Written and read by the worker only.
extern uint32_t g_dwTotalFileSize;
// "SAS Expander", the device as the core's texts name it.
extern const char g_szDeviceName[260];

// printf-style text into the status line, cut to 259 characters.
void SetStatusText(const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
// Credits `bytes` to g_dwBytesSent and reports percentage and elapsed
// seconds; 0 bytes (or an empty file) reports only the elapsed seconds.
void UpdateProgress(uint32_t bytes);
// Starts a new progress count: nothing credited, elapsed seconds from now.
// Shows nothing by itself.
void ResetProgress();
// Unlocks (true) or locks (false) the controls that would start a download.
void EnableDlgControls(bool enable);
// The retry statistics text and its counters; "" (all zero) clears it.
void ShowRetryStats(const char* text, const RetryStats& stats = RetryStats{0, 0, 0});
// The stop request: nonzero once the front end asked the download to stop.
uint32_t IsDlStopped();
// A message box through the installed report; returns its answer.
int AppMessageBox(const char* text, const char* caption, unsigned type);
