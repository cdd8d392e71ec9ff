// The download history: one line of JSON per download, appended by every
// front end on this machine, and the one rule that answers from it whether
// an image file is current on a port.
//
// The file is history.jsonl in the folder the program keeps its own files in
// (GetAppFileDir(kHistory)), or in $TARNWICK_STATE_DIR when that is set.
// Each line is appended whole in one write, so processes that append at once
// never interleave. Once the file passes kHistoryRotateBytes it becomes
// history.1.jsonl (replacing the one before) and a new file starts: the two
// together hold at most about twice that. A line that cannot be read back (a
// damaged or foreign line) is skipped.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "console/version.h"
#include "platform/report.h"

constexpr uint64_t kHistoryRotateBytes = 1024 * 1024;

// Who made a download, and on what: what only the front end knows.
struct HistoryContext {
  std::string program;  // "tarnwick", "tarnwick.exe", "tarnwick-cli"
  std::string port;     // the port as named: /dev/ttyUSB0, COM3, socket://host:7000
  std::string portId;   // its stable identity (see PortIdentity); "" if none
  std::string file;     // the image file's path as the download took it
  int exitCode = -1;    // tarnwick-cli's exit code; -1 for the dialogs
};

// One line of the history, as read back.
struct HistoryEntry {
  int64_t time = 0;  // calendar seconds (UTC)
  HistoryContext context;
  DownloadRecord record{};  // text empty
};

// The folder of the history with a trailing separator; false if none is known.
bool HistoryDir(std::string* dir);
// Appends the record of a download that just ended. False (traced) if the
// line could not be written; a download's result never depends on it.
bool AppendHistory(const DownloadRecord& record, const HistoryContext& context,
                   const std::string& dir);
bool AppendHistory(const DownloadRecord& record, const HistoryContext& context);
// Every readable entry, oldest first; the entries of `portId` only when it is
// not "". A history file that is there and cannot be read is traced, and
// named with the system's error in `error` (when given).
std::vector<HistoryEntry> ReadHistory(const std::string& dir, const std::string& portId = "",
                                      std::string* error = nullptr);
// One entry as its line (no line end), and back: false for a line that is not one.
std::string HistoryLine(const HistoryEntry& entry);
bool ParseHistoryLine(const std::string& line, HistoryEntry* entry);
// The short names of the causes and of `written`, as the line keeps them.
const char* DownloadFailureName(DownloadFailure cause);
const char* DownloadWrittenName(DownloadWritten written);

// Whether an image file is current on a port, and if not, why.
enum class FileCurrency {
  kCurrent,            // nothing to send
  kNoVersionRecord,    // the file has no version record: never taken for the running one
  kVersionDiffers,     // another version runs
  kBootloaderUnknown,  // its firmware runs, but no complete download of this file on this
                       // port is known (another machine's download, or none)
  kBootloaderFailed,   // its firmware runs, but the last download on this port that wrote
                       // anything did not end whole: its bootloader may be half-written
  kDefaultsPending,    // its firmware runs, but factory defaults that were due are not written
};

// What a file is, for the rule: its digest, version record and whether it
// holds a bootloader image.
struct FileFacts {
  std::string sha256;
  bool hasVersion = false;
  FW_VERSION version = {0, 0, 0, 0};
  bool hasBootloader = false;
};

// The rule, from the running version and this port's history (ReadHistory
// with its identity, oldest first). A file without a bootloader image is
// current when its version record runs. A file with one is current only when
// the last download on this port that wrote anything was a complete download
// of this same file. Either way, factory defaults left due on this port make
// it not current.
FileCurrency DecideCurrency(const FileFacts& file, const FW_VERSION& running,
                            const std::vector<HistoryEntry>& portHistory);
// True when the port's history leaves factory defaults due: a download that
// wrote something while they were due, and no download since that wrote them.
bool FactoryDefaultsPending(const std::vector<HistoryEntry>& portHistory);
