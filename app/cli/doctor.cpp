#include "app/cli/doctor.h"

#include <algorithm>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "app/cli/cli_options.h"
#include "app/cli/cli_setup.h"
#include "app/cli/exit_codes.h"
#include "app/cli/stop_request.h"
#include "app/startup.h"
#include "config/settings.h"
#include "console/version.h"
#include "platform/clock.h"
#include "platform/trace.h"
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

// Opens the port and asks the running version, as a download begins. The
// port stays open when the console answered (code kExitSuccess), for the
// caller to close.
DoctorFinding ConsoleFinding(const ResolvedPort& port) {
  DoctorFinding f;
  f.check = "console";
  const DeviceCheck check = CheckDeviceAtStartup(port.address);
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

// How one answer of the console came through the server: its bytes up to
// the prompt, and the microseconds from the first byte's arrival to the last's.
struct Arrival {
  int bytes = 0;
  int64_t spreadUs = 0;
};

// Asks the version once more and times the answer's bytes as they arrive,
// until the prompt ('>', maybe then a space) ends it. False when it did not
// come whole within kAnswerWaitMs, or the port closed under it (a stop).
bool TimeAnswer(Arrival* arrival) {
  constexpr int kAnswerWaitMs = 2000;
  constexpr int kPollMs = 50;
  // The line without the pause that follows it, so that each byte is read
  // as it arrives rather than found piled up afterwards.
  WriteComForTimedReply(kVersionQuery);
  const int64_t deadline = SystemSteadyMs() + kAnswerWaitMs;
  std::string answer;
  int64_t first = 0;
  while (is_open() && !IsComLost()) {
    const int left = SystemMsUntil(deadline);
    if (left == 0) return false;
    if (!WaitComInput(static_cast<uint32_t>(std::min(left, kPollMs)))) continue;
    uint8_t buf[512];
    uint32_t n = 0;
    if (!MyReadFile(buf, sizeof buf, &n)) return false;
    if (n == 0) continue;
    const int64_t now = SystemSteadyMicros();
    if (answer.empty()) first = now;
    answer.append(reinterpret_cast<const char*>(buf), n);
    const size_t end = answer.find_last_not_of(' ');
    if (end != std::string::npos && answer[end] == '>') {
      arrival->bytes = static_cast<int>(end + 1);
      arrival->spreadUs = now - first;
      return true;
    }
  }
  return false;
}

std::string MsText(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, ms < 1 ? "%.2f ms" : "%.1f ms", ms);
  return text;
}

// How the console server passes the console's answers on. The console sends
// an answer at the line's pace; a server that gathers the line's bytes until
// the line goes quiet (ser2net's chardelay, its default) hands them on in one
// piece, late, and a download, which waits for a short answer after every
// 12 characters, takes up to three times as long. The bytes after the first
// need (bytes - 1) byte times on the line: passed on as they come, they
// arrive spread over about that time; gathered, within a small part of it.
// Spread over many times that, part of the answer was held back after the
// first bytes went (the server's socket waiting for our acknowledgement,
// 40 ms or more). Decided on the best of a few answers, so that a busy
// machine cannot make a server that passes bytes on look like one that holds
// them back: a server that holds them does so every time.
DoctorFinding ServerFinding() {
  constexpr int kAnswers = 3;
  constexpr double kGatheredRatio = 0.3;
  constexpr double kHeldRatio = 6.0;
  // Fewer bytes take too short a time on the line to tell.
  constexpr int kMinBytes = 16;
  const auto passes = [&](double ratio) { return ratio >= kGatheredRatio && ratio <= kHeldRatio; };
  // How far from the line's own pace, either way.
  const auto distance = [](double ratio) { return ratio >= 1 ? ratio : ratio > 0 ? 1 / ratio : 1e9; };
  DoctorFinding f;
  f.check = "server";
  Arrival best;
  double bestRatio = 0;
  int timed = 0;
  for (int i = 0; i < kAnswers && !(timed > 0 && passes(bestRatio)); ++i) {
    Arrival a;
    if (!TimeAnswer(&a) || a.bytes < kMinBytes) continue;
    const double ratio = a.spreadUs / 1000.0 / ((a.bytes - 1) * kByteMs);
    DbgTrace("doctor: answer of %d bytes spread over %lld us (%.2f of its line time)", a.bytes,
             static_cast<long long>(a.spreadUs), ratio);
    if (timed == 0 || distance(ratio) < distance(bestRatio)) {
      bestRatio = ratio;
      best = a;
    }
    ++timed;
  }
  if (timed == 0) {
    f.level = FindingLevel::kNote;
    f.text = "the console's answer to a repeated version query did not come whole: how the "
             "server passes it on was not measured";
    return f;
  }
  const std::string measured = std::to_string(best.bytes) + " bytes that take " +
                               MsText((best.bytes - 1) * kByteMs) + " on the line came " +
                               (bestRatio < kGatheredRatio ? "together, within " : "over ") +
                               MsText(best.spreadUs / 1000.0);
  if (passes(bestRatio)) {
    f.text = "the console server passes the console's answers on as they come: " + measured;
    return f;
  }
  f.level = FindingLevel::kWarn;
  f.text = "the console server holds the console's answers back: " + measured + " (the best of " +
           std::to_string(timed) + " answers); a download takes up to three times as long";
  f.remedy = "in ser2net's configuration, add chardelay: false to the line's options and "
             "tcp(nodelay) to its accepter (accepter: tcp(nodelay),... or "
             "telnet(rfc2217),tcp(nodelay),...); on another server, turn off what holds the "
             "line's bytes back and Nagle's algorithm";
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
      DoctorFinding server;
      const bool answered = console.code == kExitSuccess;
      if (answered) server = ServerFinding();
      CloseCom();
      if (console.code == kExitCannotOpen) {
        // Nothing to ask when the server does not connect: one finding, the
        // port's.
        console.check = port.check;
        findings.push_back(console);
      } else {
        findings.push_back(port);
        findings.push_back(console);
        if (answered) findings.push_back(server);
      }
    } else {
      port.text = resolved.display + " is a serial device";
      findings.push_back(port);
      for (DoctorFinding& f : PlatformFindings(roots, resolved, my_cfg.eventchar != 0)) {
        findings.push_back(f);
      }
      // The console is asked only once nothing stands in the way of the open.
      if (FindingsCode(findings) == kExitSuccess) {
        findings.push_back(ConsoleFinding(resolved));
        CloseCom();
      }
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
