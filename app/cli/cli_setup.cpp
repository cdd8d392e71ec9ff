#include "app/cli/cli_setup.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "app/cli/exit_codes.h"
#include "platform/sha256.h"
#include "app/image_refusal.h"
#include "config/settings.h"
#include "image/fw_image.h"
#include "image/fw_scan.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/trace.h"
#include "serial/net_port_name.h"
#include "serial/serial_port.h"
#include "serial/usb_latency.h"

namespace {

FILE* g_traceFile = nullptr;
std::mutex g_traceMutex;

// Like the platform's log sink: every text on a line of its own.
void TraceToFile(const char* text) {
  const size_t len = strlen(text);
  if (len == 0) return;
  std::lock_guard<std::mutex> lock(g_traceMutex);
  fwrite(text, 1, len, g_traceFile);
  if (text[len - 1] != '\n') fputc('\n', g_traceFile);
  fflush(g_traceFile);
}

void DropTrace(const char*) {}

template <size_t N>
void SetText(char (&field)[N], const std::string& value) {
  snprintf(field, N, "%s", value.c_str());
}

}  // namespace

bool LoadCliSettings(const CliOptions& o, std::string* error) {
  if (!o.config.empty()) {
    uint64_t size = 0;
    if (!Files().Size(o.config.c_str(), &size)) {
      *error = "cannot read the settings file " + o.config + ": " + LastFileErrorText();
      return false;
    }
  }
  // An empty path reads every key as missing: the defaults.
  SetSettingsPathOverride(o.config.c_str());
  LoadSettings(&my_cfg);
  SetSettingsPathOverride(nullptr);
  if (o.signature.set) SetText(my_cfg.signature, o.signature.value);
  if (o.writecmd.set) {
    // As the settings file gives it: cut to 259 characters, a line feed added.
    std::string cmd = o.writecmd.value.substr(0, 259) + "\n";
    SetText(my_cfg.writevpd, cmd);
    // Traced as the settings file's value is; the defaults write sends a
    // fixed command of its own.
    DbgTrace("cfg->writevpd=%s", my_cfg.writevpd);
  }
  if (o.signature.set || o.writecmd.set || o.dlstartdelay.set || o.dlnormaldelay.set ||
      o.dlretry.set || o.fwattempts.set || o.linewaittime.set || o.charwaittime.set ||
      o.eventchar.set) {
    DbgTrace("tarnwick-cli: settings given as options replace those above");
  }
  if (o.dlstartdelay.set) my_cfg.dlstartdelay = o.dlstartdelay.value;
  if (o.dlnormaldelay.set) my_cfg.dlnormaldelay = o.dlnormaldelay.value;
  if (o.dlretry.set) my_cfg.dlretry = o.dlretry.value;
  if (o.fwattempts.set) my_cfg.fwattempts = o.fwattempts.value;
  if (o.linewaittime.set) my_cfg.linewaittime = static_cast<uint32_t>(o.linewaittime.value);
  if (o.charwaittime.set) my_cfg.charwaittime = static_cast<uint32_t>(o.charwaittime.value);
  if (o.eventchar.set) {
    my_cfg.eventchar = o.eventchar.value != 0 ? 1 : 0;
    DbgTrace("cfg->eventchar=%d", static_cast<int>(my_cfg.eventchar));
  }
  if (!o.adapterRoot.empty()) SetUsbLatencyRoot(o.adapterRoot);
  return true;
}

bool OpenTrace(const std::string& path, std::string* error) {
  if (path.empty()) {
    SetTraceHook(DropTrace);
    return true;
  }
  g_traceFile = fopen(path.c_str(), "ab");
  if (g_traceFile == nullptr) {
    *error = "cannot write the trace file " + path + ": " + strerror(errno);
    SetTraceHook(DropTrace);
    return false;
  }
  SetTraceHook(TraceToFile);
  return true;
}

bool PickImageFile(const CliOptions& o, std::string* file, std::string* error) {
  *file = o.file.empty() ? std::string(my_cfg.file) : o.file;
  if (!o.file.empty() || !my_cfg.fileTooLong) return true;
  *error = LongSettingsFileText() + " (the file key of " + o.config + ")";
  return false;
}

bool CheckImageFile(const std::string& path, std::string* error) {
  if (path.empty()) {
    *error = "no image file: name one with --file";
    return false;
  }
  const IMAGE_FILE_CHECK check = CheckImageFileForDownload(path.c_str());
  if (check.problem == ImageFileProblem::kNone) return true;
  *error = ImageRefusalText(check, path.c_str());
  return false;
}

bool CheckFileDigest(const std::string& path, const std::string& expected, std::string* error) {
  if (expected.empty()) return true;
  uint32_t size = 0;
  uint8_t* buf = ReadWholeFile(path.c_str(), &size);
  if (buf == nullptr) {
    *error = "Error, " + path + " cannot be read!";
    return false;
  }
  const std::string actual = Sha256Hex(buf, size);
  delete[] buf;
  std::string want = expected;
  for (char& c : want) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  if (actual == want) return true;
  *error = "Error, the SHA-256 of " + path + " is " + actual + ", not " + want +
           " as --sha256 says; nothing was sent.";
  return false;
}

std::string ConfigPortText() {
  if (my_cfg.device[0] != '\0' && (PortPathsAllowed() || IsNetPortName(my_cfg.device))) {
    return my_cfg.device;
  }
  return std::to_string(my_cfg.comport);
}

bool PickPort(const CliOptions& o, const std::string& text, ResolvedPort* port, std::string* error,
              int* code) {
  if (text.empty()) {
    *error = o.config.empty() ? "no port: name one with --port" : "no port";
    *code = kExitBadInput;
    return false;
  }
  PortName name;
  if (!ParsePortName(text, PortPathsAllowed(), &name, error)) {
    *error = WithPortsPointer(*error);
    *code = kExitBadInput;
    return false;
  }
  if (!ResolvePort(name, port, error)) {
    *error = WithPortsPointer(*error);
    *code = kExitCannotOpen;
    return false;
  }
  return true;
}

std::string WithPortsPointer(const std::string& text) {
  std::string out = text;
  if (!out.empty() && out.back() != '.') out += '.';
  return out + (out.empty() ? "" : " ") + kPortsPointer;
}

std::string OpenFailureText(const ResolvedPort& port) {
  const std::string hint = ComOpenFailureHint();
  if (!hint.empty()) return "cannot open " + port.display + ": " + hint;
  // Linux names every cause it finds; what is left opened but would not take
  // the line settings. Windows names none here (its trace has the cause).
  if (PortPathsAllowed()) return "cannot open " + port.display + ": it is not a serial port";
  return "cannot open " + port.display + ": it is in use by another program, or not a serial port";
}
