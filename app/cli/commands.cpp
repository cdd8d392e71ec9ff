// The subcommands that work on one port or one file: ports, probe, info,
// the download into one port and its plan.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "app/cli/cli_options.h"
#include "app/cli/cli_setup.h"
#include "app/cli/console_io.h"
#include "app/cli/exit_codes.h"
#include "app/cli/image_table.h"
#include "app/cli/result_text.h"
#include "app/cli/stop_request.h"
#include "app/port_identity.h"
#include "app/startup.h"
#include "app/worker.h"
#include "config/settings.h"
#include "console/version.h"
#include "download/history.h"
#include "image/fw_format.h"
#include "platform/files.h"
#include "platform/clock.h"
#include "platform/report.h"
#include "platform/shutdown_hold.h"
#include "platform/trace.h"
#include "serial/serial_port.h"

namespace {

// The report of the running download, for the stop watcher's thread.
std::atomic<CliReport*> g_report{nullptr};

// Set while the console's version is checked (probe, verify, a download's
// check before it sends anything): an accepted stop request then closes the
// port at once, under the check, which ends without waiting out its
// time-outs; the command's own close follows.
std::atomic<bool> g_closeOnStop{false};

void NotifyStop(bool accepted) {
  if (CliReport* report = g_report.load()) report->StopRequest(accepted);
  if (accepted && g_closeOnStop.load()) CloseCom();
}

// The version check with g_closeOnStop up.
DeviceCheck CheckClosingOnStop(const PortAddress& port) {
  g_closeOnStop = true;
  const DeviceCheck check = CheckDeviceAtStartup(port);
  g_closeOnStop = false;
  return check;
}

// A check that a stop request came during: whatever it found, its port was
// closed under it.
void NoteStop(int* code, std::string* message) {
  if (!StopWasRequested()) return;
  *code = kExitStopped;
  *message = kStoppedCheckText;
}

// A failure before anything was sent: a result event in json, else one line
// on standard error.
int Refuse(CliReport& report, int code, const std::string& message) {
  if (report.style() == OutputStyle::kJson) {
    report.Result(code, message);
  } else {
    fprintf(stderr, "tarnwick-cli: %s\n", message.c_str());
  }
  return code;
}

// Settings, trace and port for probe and download; false with the exit code
// in *code once refused.
bool Prepare(const CliOptions& o, CliReport& report, ResolvedPort* port, int* code) {
  std::string error;
  if (!OpenTrace(o.log, &error) || !LoadCliSettings(o, &error)) {
    *code = Refuse(report, kExitBadInput, error);
    return false;
  }
  const std::string text = o.ports.empty() ? (o.config.empty() ? "" : ConfigPortText())
                                           : o.ports.front();
  if (!PickPort(o, text, port, &error, code)) {
    Refuse(report, *code, error);
    return false;
  }
  return true;
}

// A box's text on one line: its headline and sentence joined by one space.
std::string OneSentenceLine(const std::string& box) {
  std::string line;
  for (char c : box) {
    if (c == '\n') {
      if (!line.empty() && line.back() != ' ') line += ' ';
    } else {
      line += c;
    }
  }
  return line;
}

// The start-up check's result as an exit code and a line.
int CheckResult(DeviceCheck check, const ResolvedPort& port, std::string* message) {
  switch (check) {
    case DeviceCheck::kFound:
      *message = "Firmware " + VersionText(g_start_ver) + " detected!";
      break;
    case DeviceCheck::kCannotOpen:
      *message = WithPortsPointer(OpenFailureText(port));
      break;
    case DeviceCheck::kNotFound:
    case DeviceCheck::kTooOld:
      *message = OneSentenceLine(DeviceCheckText(check, port.display.c_str()));
      break;
  }
  return ExitCodeForCheck(check);
}

// A child of a many-ports run: "ready" once its port is open, then nothing
// until the parent says "go" (every port opened) or closes the pipe.
bool WaitForGo(CliReport& report) {
  report.Ready();
  char line[32];
  return fgets(line, sizeof line, stdin) != nullptr && strncmp(line, "go", 2) == 0;
}

// What the "current" rule needs of the file, from the bytes held.
bool ReadFileFacts(const std::string& file, FileFacts* facts) {
  ImageTable table;
  if (!ReadImageTable(file, &table)) return false;
  facts->sha256 = table.sha256;
  facts->hasVersion = ReadFileVersion(file, &facts->version);
  facts->hasBootloader = false;
  for (const ImageEntry& image : table.images) {
    if (image.part == kPartBootloader) facts->hasBootloader = true;
  }
  return true;
}

// This port's downloads, oldest first; none without a history.
std::vector<HistoryEntry> PortHistory(const std::string& portId) {
  std::string dir;
  if (!HistoryDir(&dir)) return {};
  return ReadHistory(dir, portId);
}

// Why a file whose version runs is not current, as the end of a sentence
// that began with "Firmware vX runs, the version of FILE, but".
std::string NotCurrentText(FileCurrency currency) {
  const std::string dev = g_szDeviceName;
  switch (currency) {
    case FileCurrency::kBootloaderUnknown:
      return "its bootloader image is not known to be written on this port (this machine "
             "keeps no complete download of this file there). Run the download again to "
             "write it.";
    case FileCurrency::kBootloaderFailed:
      return "the last download of it on this port did not write its bootloader image. Do not "
             "power cycle the " + dev + "! Run the download again to write it.";
    case FileCurrency::kDefaultsPending:
      return "the factory defaults an earlier download on this port was to write are not "
             "written. Run the download again: it writes them.";
    case FileCurrency::kCurrent:
    case FileCurrency::kNoVersionRecord:
    case FileCurrency::kVersionDiffers:
      break;
  }
  return "";
}

const char* CurrencyName(FileCurrency currency) {
  switch (currency) {
    case FileCurrency::kCurrent: return "current";
    case FileCurrency::kNoVersionRecord: return "no-version-record";
    case FileCurrency::kVersionDiffers: return "version-differs";
    case FileCurrency::kBootloaderUnknown: return "bootloader-unknown";
    case FileCurrency::kBootloaderFailed: return "bootloader-failed";
    case FileCurrency::kDefaultsPending: return "defaults-pending";
  }
  return "unknown";
}

}  // namespace

int RefuseRun(const CliOptions& o, int code, const std::string& message) {
  const bool many = o.command == "download" || o.command == "plan";
  if (many && o.ports.size() > 1) return RefuseParallel(o, code, message);
  if (o.json && (many || o.command == "probe" || o.command == "verify")) {
    CliReport report(OutputStyle::kJson, o.ports.empty() ? "" : o.ports.front());
    if (o.command == "download") report.Written("nothing");
    return Refuse(report, code, message);
  }
  fprintf(stderr, "tarnwick-cli: %s\n", message.c_str());
  return code;
}

int RunPorts(const CliOptions& o) {
  const std::vector<PortInfo> ports = ListSerialPorts(o.sysRoot, o.devRoot);
  for (const PortInfo& p : ports) {
    if (!o.json) {
      printf("%s\n", PortLine(p).c_str());
      continue;
    }
    nlohmann::json j = {{"port", p.name}};
    const std::pair<const char*, const std::string*> fields[] = {
        {"by_id", &p.byId},         {"driver", &p.driver},   {"vendor_id", &p.vendorId},
        {"product_id", &p.productId}, {"serial", &p.serial},   {"manufacturer", &p.manufacturer},
        {"product", &p.product},    {"device", &p.device}};
    for (const auto& f : fields) {
      if (!f.second->empty()) j[f.first] = *f.second;
    }
    printf("%s\n", j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  }
  if (ports.empty() && !o.json) fprintf(stderr, "tarnwick-cli: no serial ports found\n");
  // On standard error, so that a script reading the list is not disturbed.
  fprintf(stderr, "tarnwick-cli: %s\n", kPortsNotListed);
  return kExitSuccess;
}

int RunProbe(const CliOptions& o) {
  const std::string label = o.ports.empty() ? "" : o.ports.front();
  CliReport report(o.json ? OutputStyle::kJson : OutputStyle::kPlain, label);
  ResolvedPort port;
  int code = kExitSuccess;
  if (!Prepare(o, report, &port, &code)) return code;
  g_report = &report;
  SetReport(&report);
  CatchStopRequests(NotifyStop);
  report.Start("probe", "");
  std::string message;
  const DeviceCheck check = CheckClosingOnStop(port.address);
  if (check == DeviceCheck::kFound) report.Version(g_start_ver);
  code = CheckResult(check, port, &message);
  NoteStop(&code, &message);
  // A slow USB adapter is worth knowing before a download; standard error
  // keeps it out of what a script parses.
  const std::string slow = ComLatencyWarning(false);
  if (!slow.empty()) fprintf(stderr, "tarnwick-cli: %s\n", slow.c_str());
  CloseCom();
  // In plain output the version line said it all.
  if (code != kExitSuccess || report.style() == OutputStyle::kJson) report.Result(code, message);
  SetReport(nullptr);
  g_report = nullptr;
  return code;
}

int RunInfo(const CliOptions& o) {
  std::string error;
  if (!LoadCliSettings(o, &error)) {
    fprintf(stderr, "tarnwick-cli: %s\n", error.c_str());
    return kExitBadInput;
  }
  OpenTrace("", &error);
  if (!CheckImageFile(o.file, &error)) {
    fprintf(stderr, "tarnwick-cli: %s\n", error.c_str());
    return kExitBadInput;
  }
  ImageTable table;
  if (!ReadImageTable(o.file, &table)) {
    fprintf(stderr, "tarnwick-cli: Error, %s cannot be read!\n", o.file.c_str());
    return kExitBadInput;
  }
  const std::string text = o.json ? ImageTableJson(table) : ImageTableText(table);
  fputs(text.c_str(), stdout);
  return kExitSuccess;
}

// A file older than the running firmware is refused unless the command line
// asks for it: a downgrade is never routine. Fills `message` when refused.
bool RefuseOlder(const CliOptions& o, const FileFacts& facts, const std::string& file,
                 CliReport& report, std::string* message) {
  if (o.allowOlder || !facts.hasVersion || !OlderVersion(facts.version, g_start_ver)) return false;
  DbgTrace("tarnwick-cli: %s is older than the running firmware, refused\n", file.c_str());
  report.Outcome("older-file");
  *message = file + " holds " + VersionText(facts.version) + ", older than the running " +
             VersionText(g_start_ver) +
             "; nothing was sent. Give --allow-older to load an older firmware.";
  return true;
}

int RunDownload(const CliOptions& o) {
  if (o.ports.size() > 1) return RunParallel(o);
  const std::string label = o.ports.empty() ? "" : o.ports.front();
  CliReport report(StyleFor(o), label);
  ResolvedPort port;
  int code = kExitSuccess;
  report.Written("nothing");
  if (!Prepare(o, report, &port, &code)) return code;
  std::string file;
  std::string error;
  if (!PickImageFile(o, &file, &error)) return Refuse(report, kExitBadInput, error);
  // One read of the file: the checks, the digest, the version record and the
  // images sent all come from these bytes, whatever happens to the file.
  FileSnapshot snapshot;
  snapshot.Take(file.c_str());
  ScopedFileBackend held(&snapshot);
  if (!CheckImageFile(file, &error) || !CheckFileDigest(file, o.sha256, &error)) {
    return Refuse(report, kExitBadInput, error);
  }
  snprintf(my_cfg.file, sizeof my_cfg.file, "%s", file.c_str());
  FileFacts facts;
  ReadFileFacts(file, &facts);
  if (facts.hasVersion) report.ResultField("file_version", VersionNumbers(facts.version));
  const std::string portId = PortIdentity(port.display);
  SetDownloadPort("tarnwick-cli", port.display, portId);

  g_report = &report;
  SetReport(&report);
  CatchStopRequests(NotifyStop);
  report.Start("download", file);

  std::string message;
  if (!OpenPort(port.address)) {
    code = kExitCannotOpen;
    message = WithPortsPointer(OpenFailureText(port));
  } else if (o.waitGo && !WaitForGo(report)) {
    code = kExitStopped;
    message = "Not started: another port of this run could not be opened, nothing was sent.";
  } else {
    code = CheckResult(CheckClosingOnStop(port.address), port, &message);
    if (code == kExitSuccess) {
      report.Version(g_start_ver);
      report.ResultField("version_before", VersionNumbers(g_start_ver));
    }
  }
  // A stop during the check closed the port under it: its result is none.
  if (code != kExitStopped && StopWasRequested()) {
    code = kExitStopped;
    message = "Stopped before the download began, nothing was written.";
  }
  if (code == kExitSuccess && RefuseOlder(o, facts, file, report, &message)) code = kExitBadInput;
  const FileCurrency currency =
      code == kExitSuccess && o.skipIfCurrent
          ? DecideCurrency(facts, g_start_ver, PortHistory(portId))
          : FileCurrency::kVersionDiffers;
  if (o.skipIfCurrent && code == kExitSuccess) {
    DbgTrace("tarnwick-cli: %s is %s on %s\n", file.c_str(), CurrencyName(currency),
             portId.c_str());
  }
  if (code == kExitSuccess && currency == FileCurrency::kCurrent) {
    DbgTrace("tarnwick-cli: running version is the file's, nothing to send\n");
    report.Outcome("already-current");
    report.ResultField("version_after", VersionNumbers(g_start_ver));
    message = "Firmware " + VersionText(g_start_ver) + " runs already, the version of " + file +
              "; nothing was sent.";
  } else if (code == kExitSuccess) {
    // Shutdown and sleep wait until the download ends; in a many-ports run
    // the parent holds them for every port at once.
    std::unique_ptr<ShutdownHold> hold;
    if (!o.waitGo) {
      hold.reset(new ShutdownHold(HostHoldReason({port.address.display})));
    }
    g_dlStartTime = NowSeconds();
    SetStatusText("Downloading from file %s, please wait...", my_cfg.file);
    DownloadRecord record = DownloadAndSetDefaults(my_cfg.file);
    // The dialog's result text still goes to the status events and the
    // trace; the lines end with the command line's own words below.
    report.StepsDone();
    ShowDownloadResult(&record);
    report.Written(WrittenName(record.written));
    message = DownloadResultText(record, StopWasRequested());
    code = DownloadExitCode(record, StopWasRequested());
    RecordDownload(record, my_cfg.file, code);
  }
  CloseCom();
  report.Result(code, message);
  SetReport(nullptr);
  g_report = nullptr;
  return code;
}

int RunVerify(const CliOptions& o) {
  const std::string label = o.ports.empty() ? "" : o.ports.front();
  CliReport report(o.json ? OutputStyle::kJson : OutputStyle::kPlain, label);
  ResolvedPort port;
  int code = kExitSuccess;
  if (!Prepare(o, report, &port, &code)) return code;
  std::string file;
  std::string error;
  if (!PickImageFile(o, &file, &error)) return Refuse(report, kExitBadInput, error);
  // One read of the file: the checks, the digest, the version record and the
  // images sent all come from these bytes, whatever happens to the file.
  FileSnapshot snapshot;
  snapshot.Take(file.c_str());
  ScopedFileBackend held(&snapshot);
  if (!CheckImageFile(file, &error) || !CheckFileDigest(file, o.sha256, &error)) {
    return Refuse(report, kExitBadInput, error);
  }
  FileFacts facts;
  if (!ReadFileFacts(file, &facts) || !facts.hasVersion) {
    return Refuse(report, kExitBadInput,
                  "Error, " + file + " holds no version record: there is nothing to compare with.");
  }
  g_report = &report;
  SetReport(&report);
  CatchStopRequests(NotifyStop);
  report.Start("verify", file);
  report.ResultField("file_version", VersionNumbers(facts.version));
  std::string message;
  const DeviceCheck check = CheckClosingOnStop(port.address);
  code = CheckResult(check, port, &message);
  if (code == kExitSuccess) {
    report.Version(g_start_ver);
    report.ResultField("version", VersionNumbers(g_start_ver));
    const FileCurrency currency =
        DecideCurrency(facts, g_start_ver, PortHistory(PortIdentity(port.display)));
    report.ResultField("current", CurrencyName(currency));
    const std::string runs = "Firmware " + VersionText(g_start_ver) + " runs";
    if (currency == FileCurrency::kCurrent) {
      message = runs + ", the version of " + file + ".";
    } else if (currency == FileCurrency::kVersionDiffers) {
      code = kExitVersionDiffers;
      message = runs + ", but " + file + " holds " + VersionText(facts.version) + ".";
    } else {
      code = kExitNotCurrent;
      message = runs + ", the version of " + file + ", but " + NotCurrentText(currency);
    }
  }
  NoteStop(&code, &message);
  CloseCom();
  report.Result(code, message);
  SetReport(nullptr);
  g_report = nullptr;
  return code;
}

int RunHistory(const CliOptions& o) {
  std::string dir;
  if (!HistoryDir(&dir)) {
    fprintf(stderr, "tarnwick-cli: no folder for the download history is known\n");
    return kExitInternal;
  }
  const std::string portId = o.ports.empty() ? "" : PortIdentity(o.ports.front());
  std::string error;
  const std::vector<HistoryEntry> entries = ReadHistory(dir, portId, &error);
  if (!error.empty()) {
    // Showing what could be read as if it were all would hide downloads.
    fprintf(stderr, "tarnwick-cli: %s\n", error.c_str());
    return kExitInternal;
  }
  for (const HistoryEntry& e : entries) {
    if (o.json) {
      printf("%s\n", HistoryLine(e).c_str());
      continue;
    }
    const DownloadRecord& r = e.record;
    const std::string line = HistoryLine(e);
    const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
    std::string what = r.ok ? "ok" : std::string("failed (") + DownloadFailureName(r.cause) + ")";
    std::string defaults;
    if (r.defaultsDue) defaults = r.defaultsWritten ? ", defaults written" : ", defaults NOT written";
    printf("%s  %s  %s  %s %s -> %s  %s, written %s%s\n", j.value("time", "").c_str(),
           e.context.port.c_str(), e.context.file.c_str(),
           j["file_version"].is_string() ? j["file_version"].get<std::string>().c_str() : "-",
           j["version_before"].is_string() ? j["version_before"].get<std::string>().c_str() : "-",
           j["version_after"].is_string() ? j["version_after"].get<std::string>().c_str() : "-",
           what.c_str(), DownloadWrittenName(r.written), defaults.c_str());
  }
  return kExitSuccess;
}

int RunPlan(const CliOptions& o) {
  if (o.ports.size() > 1) return RunParallel(o);
  const std::string label = o.ports.empty() ? "" : o.ports.front();
  CliReport report(o.json ? OutputStyle::kJson : OutputStyle::kPlain, label);
  ResolvedPort port;
  int code = kExitSuccess;
  // Refused where the download would refuse, with its words.
  if (!Prepare(o, report, &port, &code)) return code;
  const std::string file = o.file.empty() ? std::string(my_cfg.file) : o.file;
  FileSnapshot snapshot;
  snapshot.Take(file.c_str());
  ScopedFileBackend held(&snapshot);
  std::string error;
  if (!CheckImageFile(file, &error) || !CheckFileDigest(file, o.sha256, &error)) {
    return Refuse(report, kExitBadInput, error);
  }
  FileFacts facts;
  ImageTable table;
  if (!ReadFileFacts(file, &facts) || !ReadImageTable(file, &table)) {
    return Refuse(report, kExitBadInput, "Error, " + file + " cannot be read!");
  }
  SetReport(&report);
  report.Start("plan", file);
  const std::string fileVersion = facts.hasVersion ? VersionNumbers(facts.version) : "";
  if (facts.hasVersion) report.ResultField("file_version", fileVersion);
  std::string message;
  code = CheckResult(CheckDeviceAtStartup(port.address), port, &message);
  if (code == kExitSuccess) {
    const std::string running = VersionText(g_start_ver);
    report.Version(g_start_ver);
    report.ResultField("version_before", VersionNumbers(g_start_ver));
    const std::vector<HistoryEntry> history = PortHistory(PortIdentity(port.display));
    const FileCurrency currency = DecideCurrency(facts, g_start_ver, history);
    const bool older = RefuseOlder(o, facts, file, report, &message);
    const bool download = !older && (!o.skipIfCurrent || currency != FileCurrency::kCurrent);
    const bool defaults = FactoryDefaultsDue(g_start_ver, FactoryDefaultsPending(history));
    const char* path = table.rebooting ? "rebooting" : "normal";
    nlohmann::json plan = {{"would_download", download},
                           {"current", CurrencyName(currency)},
                           {"path", path},
                           {"factory_defaults", download && defaults},
                           {"version", VersionNumbers(g_start_ver)},
                           {"file_version", nullptr}};
    if (facts.hasVersion) plan["file_version"] = fileVersion;
    report.PlanEvent(std::move(plan));
    if (older) {
      code = kExitBadInput;
    } else if (download) {
      report.Outcome("would-download");
      message = "Would download " + file + " (" + CurrencyName(currency) + ") over firmware " +
                running + " on the " + path + " path" +
                (defaults ? ", then write the factory defaults." : ".");
    } else {
      report.Outcome("already-current");
      message = "Nothing to send: firmware " + running + " runs, the version of " + file + ".";
    }
  }
  CloseCom();
  report.Result(code, message);
  SetReport(nullptr);
  return code;
}
