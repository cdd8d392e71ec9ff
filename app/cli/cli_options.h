// What the command line of tarnwick-cli says, once parsed.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "app/cli/cli_report.h"

// A settings key given as an option overrides what --config (or the default)
// gave; `set` tells whether it was given.
template <typename T>
struct Setting {
  bool set = false;
  T value{};
};

struct CliOptions {
  std::string command;              // ports, probe, info, download, plan, verify, doctor, history
  std::vector<std::string> ports;   // --port, in the order given
  std::string file;                 // --file, or info's FILE
  std::string config;               // --config: an fwdl.ini to read ("" none)
  std::string log;                  // --log: the trace file ("" none)
  bool json = false;
  bool quiet = false;
  // download: send nothing when the running version is the file's.
  bool skipIfCurrent = false;
  bool allowOlder = false;  // download, plan: a file older than the running firmware may load
  // download and verify: the SHA-256 the file must have, as given ("" none).
  std::string sha256;
  // The keys of fwdl.ini.
  Setting<int32_t> dlstartdelay, dlnormaldelay, dlretry, fwattempts;
  Setting<int32_t> linewaittime, charwaittime, eventchar;
  Setting<std::string> signature, writecmd;
  // Internal: a child of a many-ports run opens its port, says "ready" and
  // waits for "go" on standard input before it sends anything.
  bool waitGo = false;
  // Internal: where `ports` looks (tests point them at a tree of their own).
  std::string sysRoot = "/sys";
  std::string devRoot = "/dev";
  // Internal: --sys-root given to a command that opens a port; the port then
  // looks there for the adapter's settings ("" the system's).
  std::string adapterRoot;
  // Internal, doctor only: the process table and udev's database ("" the system's).
  std::string procRoot;
  std::string udevRoot;
};

// Parses the command line. Returns -1 to go on, else the exit code (0 after
// --help, kExitBadInput after an error, already reported: on standard error,
// or for download, probe and verify with --json as their result line).
int ParseCommandLine(int argc, char** argv, CliOptions* options);
// Options that parsed but do not go together: why, or "" if none.
std::string OptionsConflict(const CliOptions& options);

// The output style the options and the console ask for.
OutputStyle StyleFor(const CliOptions& options);

// The subcommands; each returns the exit code.
int RunPorts(const CliOptions& options);
int RunProbe(const CliOptions& options);
int RunInfo(const CliOptions& options);
int RunDownload(const CliOptions& options);
// Whether the file is current on the port (the history's rule): kExitSuccess
// when it is, kExitVersionDiffers when another version runs, kExitNotCurrent
// when its version runs but its bootloader or factory defaults are not known
// to be written there.
int RunVerify(const CliOptions& options);
// What download --skip-if-current (or without it, download) would do on
// each port, asking nothing but the start-up questions. Fails where the
// download would fail before it sent anything; many ports are asked at once.
int RunPlan(const CliOptions& options);
// The download history, all of it or one port's.
int RunHistory(const CliOptions& options);
// What stands in the way of a download on --port, or on every port `ports`
// lists; see doctor.h.
int RunDoctor(const CliOptions& options);
// download or plan with more than one --port: one child process per port.
int RunParallel(const CliOptions& options);
// A run refused before it began: with --json its result line (or, with
// several ports, its summary line), else one line on standard error.
// Returns `code`.
int RefuseRun(const CliOptions& options, int code, const std::string& message);
int RefuseParallel(const CliOptions& options, int code, const std::string& message);

// The arguments that make a child do the same download (or plan) on `port`,
// its trace in `log` ("" none): the settings options as given, --json, and
// for a download --wait-go.
std::vector<std::string> ChildArguments(const CliOptions& options, const std::string& port,
                                        const std::string& log);
