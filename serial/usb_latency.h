// A USB-serial adapter's latency timer: how long the adapter holds bytes from
// the line before it hands them to the PC. The download waits for a reply
// after every 12-character piece, so a 16 ms timer makes it about fifteen
// times slower than the line allows. On open the port asks for low latency
// where it can, puts back what it found on close, and keeps one warning for
// the user when a timer above kMaxGoodLatencyMs stays.
//
// Some adapters also send what they hold at once when a chosen event
// character arrives. With the setting eventchar=1 that character is the
// expander's "*", so every acknowledgement comes without the timer's wait;
// only the status reply that ends a packet still waits for it.
#pragma once
#include <cstdint>
#include <string>

// True in the Windows build (picks the remedy the warning gives).
extern const bool kOnWindows;
// Where InspectUsbLatency looks in production: "/sys" on Linux; on Windows
// the registry key of the common USB adapters' driver below HKEY_LOCAL_MACHINE.
extern const char kUsbLatencyRoot[];
// Where the port backend looks: kUsbLatencyRoot until set. tarnwick-cli's
// hidden --sys-root points it at a tree a test made, so that what a run
// changes on the adapter, and whether it is put back, can be watched.
void SetUsbLatencyRoot(const std::string& root);
std::string UsbLatencyRoot();

// Timers up to this many milliseconds cost a download little.
constexpr int kMaxGoodLatencyMs = 2;

// What was found about the port's adapter. `timerMs` is -1 when unknown
// (no such file or value, unreadable, not a number).
struct UsbLatency {
  bool usb = false;     // the port is a USB serial device
  int timerMs = -1;     // the adapter's latency timer as found
  int nowMs = -1;       // after this program lowered it (-1: not lowered)
  bool timerWritable = false;      // Linux: this user may write latency_timer
  bool eventChar = false;          // Linux: the adapter has an event_char attribute
  bool eventCharWritable = false;  // ... and this user may write it
};

// The value written to a Linux adapter's event_char attribute to make `c`
// its event character: the driver takes a number whose low 8 bits are the
// character and whose bit 8 turns it on ("298" for '*'). "0" turns it off,
// which is how the adapter comes up; the attribute cannot be read back.
std::string EventCharValue(char c);

// What to do about a timer: leave it, lower it, or warn that it stays high.
enum class LatencyVerdict { kLeaveAlone, kLower, kWarn };

// The decision: a port that is not USB, or whose timer is unknown or low,
// is left alone; a high timer is lowered where it can be, else warned about.
LatencyVerdict DecideLatency(const UsbLatency& found, bool canLower);

// Reads a latency_timer file: its whole number of milliseconds, or -1.
int ReadLatencyTimerFile(const std::string& path);

// The warning with its remedy for `port` ("" when the timer is low or
// unknown). `onWindows` picks the remedy; `brief` gives the short form for
// the dialog's status line (its full form goes to the trace).
// What to do about a slow timer on `port`, the warning's second half.
std::string LatencyRemedy(const std::string& port, bool onWindows, bool eventCharOn);
// `eventCharOn` says whether this program asked the adapter for the event
// character (the warning then says what it leaves; else it offers it).
std::string LatencyWarning(const std::string& port, int timerMs, bool onWindows,
                           bool brief = false, bool eventCharOn = false);

// The platform's part, called by the serial backend. Linux: `sysRoot` is
// "/sys" in production; `device` the opened path (symlinks such as
// /dev/serial/by-id/... allowed). Windows: `regRoot` is the registry key path
// below HKEY_LOCAL_MACHINE ("SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS") and
// `device` the port name ("COM3"); tests pass a key of HKEY_CURRENT_USER.
UsbLatency InspectUsbLatency(const std::string& root, const std::string& device);

// Done by the port backend around the life of an open port.
class LatencyTuner {
 public:
  // Looks at the adapter behind `device` (open as `handle`: a file
  // descriptor on Linux, unused on Windows), lowers its timer where it can
  // and traces what it found and did. With `eventChar` (the setting
  // eventchar=1) it makes "*" the adapter's event character where it can:
  // on Linux through a writable event_char attribute; on Windows the line
  // settings carry it already and this only takes note. Returns the warning
  // for the user, "" when there is none. A pseudo-terminal or built-in UART
  // is left alone without a trace line.
  std::string OnOpen(intptr_t handle, const std::string& root, const std::string& device,
                     bool eventChar);
  // Puts back what OnOpen changed.
  void OnClose(intptr_t handle);
  // The warning of the last OnOpen ("" none), in full or brief.
  std::string Warning(bool brief) const;

 private:
  int oldFlags_ = -1;       // serial flags before low latency was asked for
  std::string timerPath_;   // latency_timer written by OnOpen
  int oldTimer_ = -1;
  std::string eventCharPath_;  // event_char written by OnOpen
  bool eventCharOn_ = false;   // the adapter was asked for the event character
  std::string device_;      // the port and the timer that stayed high
  int highMs_ = -1;
};
