// tarnwick-cli doctor: what stands between this machine and a download on a
// port, each finding with its remedy. One header; doctor.cpp holds the
// portable part (the console check, the text and JSON), doctor_posix.cpp and
// doctor_win32.cpp what only the platform can look at.
#pragma once
#include <string>
#include <vector>

#include "app/cli/ports.h"

enum class FindingLevel {
  kOk,     // nothing to do
  kNote,   // worth knowing, costs nothing
  kWarn,   // the download will work, but slowly or at a risk
  kBlock,  // the download cannot work until the remedy is done
};

struct DoctorFinding {
  std::string check;   // "port", "access", "holders", "modemmanager", "adapter", "console",
                       // "server"
  FindingLevel level = FindingLevel::kOk;
  std::string text;    // what was found, one sentence
  std::string remedy;  // what to do about it ("" nothing)
  int code = 0;        // kBlock: the exit code it stands for
};

// Where the platform part looks; tests point them at trees of their own.
struct DoctorRoots {
  std::string sys = "/sys";
  std::string dev = "/dev";
  std::string proc = "/proc";
  std::string udev = "/run/udev/data";
};

// The platform's findings about `port` (resolved, so it exists): may this
// user open it, does another process hold it, does ModemManager leave it
// alone, what adapter is behind it. `eventChar` is the setting eventchar.
std::vector<DoctorFinding> PlatformFindings(const DoctorRoots& roots, const ResolvedPort& port,
                                            bool eventChar);

// What a latency timer of `timerMs` costs a 1 MiB firmware at 115200 baud:
// every 12-character piece waits for its "*" through the timer, or with the
// event character only each packet's status reply does.
std::string LatencyCostText(int timerMs, bool eventChar);

// The findings of one port as lines of text (no trailing line feed on the
// last), and as a JSON object's text.
std::string FindingsText(const std::string& port, const std::vector<DoctorFinding>& findings);
// The exit code the findings stand for: 0 when none blocks, else the code of
// the first that does.
int FindingsCode(const std::vector<DoctorFinding>& findings);
