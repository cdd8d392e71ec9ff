#include "app/cli/doctor.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "app/cli/cli_options.h"
#include "app/cli/cli_setup.h"
#include "app/cli/exit_codes.h"
#include "app/cli/stop_request.h"
#include "app/startup.h"
#include "config/settings.h"
#include "console/version.h"
#include "serial/net_port_name.h"
#include "serial/serial_port.h"

namespace {

// The line at 115200 baud: 10 bits a byte.
constexpr double kByteMs = 10.0 * 1000.0 / 115200.0;
// One packet: 256 bytes and the 8-byte header as base64 (352 characters) and
// its end mark, in pieces of 12 each answered by "*", then a status reply.
constexpr int kPacketChars = 353;
constexpr int kPiecesPerPacket = (kPacketChars + 11) / 12;
constexpr int kStatusBytes = 3;
constexpr int kPacketsPerMiB = 1024 * 1024 / 256;

std::string Minutes(double ms) {
  const double minutes = ms / 60000.0;
  char text[32];
  std::snprintf(text, sizeof text, minutes < 10 ? "%.1f" : "%.0f", minutes);
  return text;
}

const char* LevelName(FindingLevel level) {
  switch (level) {
    case FindingLevel::kOk: return "ok";
    case FindingLevel::kNote: return "note";
    case FindingLevel::kWarn: return "warn";
    case FindingLevel::kBlock: return "FAIL";
  }
  return "?";
}

// Opens the port and asks the running version, as a download begins.
DoctorFinding ConsoleFinding(const ResolvedPort& port) {
  DoctorFinding f;
  f.check = "console";
  const DeviceCheck check = CheckDeviceAtStartup(port.address);
  CloseCom();
  f.code = ExitCodeForCheck(check);
  switch (check) {
    case DeviceCheck::kFound:
      f.text = "the console answers: firmware " + VersionText(g_start_ver) +
               ", which this utility can load (" + VersionNumbers(kOldestUsableVersion) +
               " or later)";
      return f;
    case DeviceCheck::kCannotOpen:
      f.text = OpenFailureText(port);
      break;
    case DeviceCheck::kNotFound:
      f.text = "the console does not answer with a version";
      if (port.address.kind == PortAddress::Kind::kNet) {
        f.remedy = "check that this port of the console server is the line cabled to the "
                   "enclosure, that the enclosure is powered, and (raw socket://) that the "
                   "server sets the line to 115200 8N1";
      } else {
        f.remedy = "check the cable (null-modem or the enclosure's adapter), that the enclosure "
                   "is powered, that its console runs at 115200 8N1, and that this is the port "
                   "the cable is on";
      }
      break;
    case DeviceCheck::kTooOld:
      f.text = "the console runs firmware " + VersionText(g_start_ver) +
               ", older than " + VersionNumbers(kOldestUsableVersion) +
               ": this utility cannot load it";
      f.remedy = "update it with the tool its firmware came with first";
      break;
  }
  f.level = FindingLevel::kBlock;
  return f;
}

nlohmann::json FindingsJson(const std::string& port, const std::vector<DoctorFinding>& findings) {
  nlohmann::json list = nlohmann::json::array();
  for (const DoctorFinding& f : findings) {
    nlohmann::json j = {{"check", f.check}, {"level", f.level == FindingLevel::kBlock ? "fail" : LevelName(f.level)},
                        {"text", f.text}};
    if (!f.remedy.empty()) j["remedy"] = f.remedy;
    if (f.level == FindingLevel::kBlock) j["code"] = f.code;
    list.push_back(j);
  }
  const int code = FindingsCode(findings);
  return {{"port", port}, {"findings", list}, {"code", code}, {"result", ExitCodeName(code)}};
}

}  // namespace

std::string LatencyCostText(int timerMs, bool eventChar) {
  const double linePacketMs = (kPacketChars + kPiecesPerPacket + kStatusBytes) * kByteMs;
  const int waits = eventChar ? 1 : kPiecesPerPacket;
  const double packetMs = linePacketMs + waits * static_cast<double>(timerMs < 0 ? 0 : timerMs);
  return "a 1 MiB firmware takes about " + Minutes(packetMs * kPacketsPerMiB) +
         " minutes at 115200 baud, the line alone " + Minutes(linePacketMs * kPacketsPerMiB);
}

int FindingsCode(const std::vector<DoctorFinding>& findings) {
  for (const DoctorFinding& f : findings) {
    if (f.level == FindingLevel::kBlock) return f.code;
  }
  return kExitSuccess;
}

std::string FindingsText(const std::string& port, const std::vector<DoctorFinding>& findings) {
  std::string text = port;
  for (const DoctorFinding& f : findings) {
    char head[32];
    std::snprintf(head, sizeof head, "\n  %-5s %-13s ", LevelName(f.level), f.check.c_str());
    text += head + f.text;
    if (!f.remedy.empty()) text += "\n  " + std::string(20, ' ') + "remedy: " + f.remedy;
  }
  return text;
}

int RunDoctor(const CliOptions& o) {
  std::string error;
  if (!OpenTrace(o.log, &error) || !LoadCliSettings(o, &error)) {
    fprintf(stderr, "tarnwick-cli: %s\n", error.c_str());
    return kExitBadInput;
  }
  DoctorRoots roots;
  roots.sys = o.sysRoot;
  roots.dev = o.devRoot;
  if (!o.procRoot.empty()) roots.proc = o.procRoot;
  if (!o.udevRoot.empty()) roots.udev = o.udevRoot;
  std::vector<std::string> names = o.ports;
  if (names.empty()) {
    for (const PortInfo& p : ListSerialPorts(o.sysRoot, o.devRoot)) names.push_back(p.name);
  }
  // A stop request closes the port being asked at once; its findings and the
  // ports after it are left out.
  CatchStopRequests([](bool accepted) {
    if (accepted) CloseCom();
  });
  int code = kExitSuccess;
  bool stopped = false;
  nlohmann::json all = nlohmann::json::array();
  if (names.empty()) {
    code = kExitCannotOpen;
    if (!o.json) printf("no serial ports found: plug in the adapter, or name the port with --port\n");
  }
  for (const std::string& name : names) {
    if (StopWasRequested()) {
      stopped = true;
      break;
    }
    std::vector<DoctorFinding> findings;
    DoctorFinding port;
    port.check = "port";
    PortName parsed;
    ResolvedPort resolved;
    std::string problem;
    if (!ParsePortName(name, PortPathsAllowed(), &parsed, &problem) ||
        !ResolvePort(parsed, &resolved, &problem)) {
      port.level = FindingLevel::kBlock;
      port.text = problem;
      port.remedy = "tarnwick-cli ports lists the serial ports of this machine";
      port.code = kExitCannotOpen;
      findings.push_back(port);
    } else if (resolved.address.kind == PortAddress::Kind::kNet) {
      // A console server's line: nothing of this machine's serial ports
      // applies; whether it connects shows in the console's finding.
      const NetPortName& net = resolved.address.net;
      port.text = resolved.display + " is a port of a console server at " + NetEndpointText(net) +
                  (net.kind == NetPortKind::kRfc2217
                       ? " (telnet with RFC 2217: this utility sets the line to 115200 8N1)"
                       : " (raw TCP: the server must set the line to 115200 8N1)");
      DoctorFinding console = ConsoleFinding(resolved);
      if (console.code == kExitCannotOpen) {
        // Nothing to ask when the server does not connect: one finding, the
        // port's.
        console.check = port.check;
        findings.push_back(console);
      } else {
        findings.push_back(port);
        findings.push_back(console);
      }
    } else {
      port.text = resolved.display + " is a serial device";
      findings.push_back(port);
      for (DoctorFinding& f : PlatformFindings(roots, resolved, my_cfg.eventchar != 0)) {
        findings.push_back(f);
      }
      // The console is asked only once nothing stands in the way of the open.
      if (FindingsCode(findings) == kExitSuccess) findings.push_back(ConsoleFinding(resolved));
    }
    if (StopWasRequested()) {
      stopped = true;
      break;
    }
    const int portCode = FindingsCode(findings);
    if (code == kExitSuccess) code = portCode;
    if (o.json) {
      all.push_back(FindingsJson(name, findings));
    } else {
      printf("%s\n", FindingsText(name, findings).c_str());
    }
  }
  if (stopped) code = kExitStopped;
  if (o.json) {
    const nlohmann::json result = {{"ports", all}, {"code", code}, {"result", ExitCodeName(code)}};
    printf("%s\n", result.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  } else {
    if (code == kExitSuccess) {
      printf("nothing stands in the way of a download\n");
    } else if (code == kExitStopped) {
      printf("stopped (Ctrl+C or a signal) before every check was done (exit %d, %s)\n", code,
             ExitCodeName(code));
    } else {
      printf("something stands in the way of a download (exit %d, %s)\n", code,
             ExitCodeName(code));
    }
  }
  return code;
}
