// expander-sim as a separate process for the integration tests: started on a
// fresh pseudo-terminal with its report and saved images in a temporary
// folder, stopped with SIGTERM, and its JSON report read back into plain
// structures. Header-only so that it builds only with the Linux tests that
// include it.
#pragma once
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "config/settings.h"
#include "serial/serial_port.h"
#include "support/temp_dir.h"

namespace simproc {

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// One image as the report lists it.
struct ReportImage {
  int sequence = 0;
  int part = -1;  // -1: null (image shorter than 11 bytes)
  uint64_t size = 0;
  bool terminated = false;
  std::string file;  // empty: not saved
};

struct ReportCommand {
  std::string command;  // "prompt", "reboot", "version query", ...
  bool ignored = false;  // arrived while the console was down
};

struct Report {
  std::string raw;
  std::string exit_reason;
  std::string running_version;
  std::vector<ReportImage> images;
  std::vector<ReportCommand> commands;
  int reboots = 0;
  std::vector<std::string> violations;

  // A number from the "counts" object; -1 if absent.
  long long Count(const std::string& key) const {
    const size_t counts = raw.find("\"counts\": {");
    if (counts == std::string::npos) return -1;
    const size_t at = raw.find("\"" + key + "\": ", counts);
    if (at == std::string::npos) return -1;
    return std::atoll(raw.c_str() + at + key.size() + 4);
  }
  // The commands' names in order, those that arrived while the console was
  // down marked with a trailing '!'.
  std::vector<std::string> CommandNames() const {
    std::vector<std::string> names;
    for (const ReportCommand& c : commands) names.push_back(c.command + (c.ignored ? "!" : ""));
    return names;
  }
};

// The text after `"key": ` on `line`, up to the next ',' or '}' (a string
// value loses its quotes; the report's strings used here hold neither).
inline std::string Field(const std::string& line, const std::string& key) {
  const std::string tag = "\"" + key + "\": ";
  const size_t at = line.find(tag);
  if (at == std::string::npos) return "";
  size_t from = at + tag.size();
  if (line[from] == '"') {
    const size_t end = line.find('"', from + 1);
    return line.substr(from + 1, end - from - 1);
  }
  const size_t end = line.find_first_of(",}", from);
  return line.substr(from, end - from);
}

// The lines of the array `"name": [` (one element per line in the report).
inline std::vector<std::string> ArrayLines(const std::string& raw, const std::string& name) {
  std::vector<std::string> lines;
  const size_t open = raw.find("\"" + name + "\": [");
  if (open == std::string::npos) return lines;
  std::istringstream in(raw.substr(open));
  std::string line;
  std::getline(in, line);
  if (line.find("[]") != std::string::npos) return lines;
  while (std::getline(in, line) && line.find("    {") == 0) lines.push_back(line);
  return lines;
}

inline Report ParseReport(const std::string& raw) {
  Report r;
  r.raw = raw;
  r.exit_reason = Field(raw, "exit_reason");
  r.running_version = Field(raw, "running_version");
  for (const std::string& line : ArrayLines(raw, "images")) {
    ReportImage im;
    im.sequence = std::atoi(Field(line, "sequence").c_str());
    const std::string part = Field(line, "part");
    im.part = part == "null" ? -1 : std::atoi(part.c_str());
    im.size = std::strtoull(Field(line, "size").c_str(), nullptr, 10);
    im.terminated = Field(line, "terminated") == "true";
    const std::string file = Field(line, "file");
    im.file = file == "null" ? "" : file;
    r.images.push_back(im);
  }
  for (const std::string& line : ArrayLines(raw, "commands")) {
    r.commands.push_back({Field(line, "command"), Field(line, "ignored") == "true"});
  }
  r.reboots = static_cast<int>(ArrayLines(raw, "reboots").size());
  for (const std::string& line : ArrayLines(raw, "violations")) {
    r.violations.push_back(Field(line, "text"));
  }
  return r;
}

// The simulator process. Start() gives the pseudo-terminal's path; Stop()
// ends it and returns its exit status (0 clean, 1 violations seen).
class SimProcess {
 public:
  SimProcess() = default;
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;
  ~SimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (temp_ && getenv("TARNWICK_KEEP_SIM_DIR") != nullptr) temp_->Keep();
  }

  // False if the simulator did not start or named no pseudo-terminal.
  bool Start(std::vector<std::string> args) {
    temp_.emplace("tarnwick-integ");
    if (dir().empty()) return false;
    args.insert(args.begin(),
                {TARNWICK_SIM_PATH, "--report", dir() + "/report.json", "--out", dir() + "/out",
                 // Unpaced unless the test asks for a line rate (a later --baud wins).
                 "--baud", "0"});
    int out[2];
    if (pipe(out) != 0) return false;
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(&a[0]);
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') path_ += c;
    close(out[0]);
    return path_.rfind("/dev/pts/", 0) == 0;
  }

  // SIGTERM, then the exit status (-1 if it did not exit normally).
  int Stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    return Wait();
  }

  // Waits for the simulator to end by itself; its exit status as for Stop().
  int Wait() {
    if (pid_ <= 0) return -1;
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  Report ReadReport() const { return ParseReport(ReadAll(dir() + "/report.json")); }
  const std::string& path() const { return path_; }
  const std::string& dir() const {
    static const std::string none;
    return temp_ ? temp_->path() : none;
  }

 private:
  pid_t pid_ = -1;
  std::string path_;
  std::optional<TempDir> temp_;  // a fresh one for each start
};

// The host's end of the line: my_cfg pointed at the simulator's terminal with
// short waits (whole seconds), the port opened; all restored on destruction.
class HostLine {
 public:
  HostLine() : saved_(my_cfg) {}
  HostLine(const HostLine&) = delete;
  HostLine& operator=(const HostLine&) = delete;
  ~HostLine() {
    CloseCom();
    my_cfg = saved_;
  }

  bool Open(const std::string& device, int32_t wait_seconds = 2) {
    snprintf(my_cfg.device, sizeof my_cfg.device, "%s", device.c_str());
    my_cfg.dlstartdelay = wait_seconds;
    my_cfg.dlnormaldelay = wait_seconds;
    my_cfg.dlretry = 10;
    my_cfg.fwattempts = 3;
    snprintf(my_cfg.signature, sizeof my_cfg.signature, "%s", "VRQ");
    SetSerialBackend(nullptr);
    CloseCom();
    return startdom(1);
  }

 private:
  FWDL_CFG saved_;
};

// An image: a 28-byte header (signature "VRQ", part at byte 10, body length
// big-endian at bytes 16-19) and a patterned body, `size` bytes in all;
// shorter than a header, just patterned bytes.
inline std::string MakeImage(size_t size, uint8_t part, unsigned seed = 1) {
  std::string im(size, '\0');
  for (size_t i = 0; i < size; ++i) im[i] = static_cast<char>((i * 31 + seed * 7) % 251);
  if (size >= 28) {
    const uint32_t body = static_cast<uint32_t>(size - 28);
    for (size_t i = 0; i < 28; ++i) im[i] = 0;
    im[0] = 'V', im[1] = 'R', im[2] = 'Q';
    im[10] = static_cast<char>(part);
    for (int i = 0; i < 4; ++i) im[16 + i] = static_cast<char>(body >> (24 - 8 * i));
  }
  return im;
}

inline bool WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

}  // namespace simproc
