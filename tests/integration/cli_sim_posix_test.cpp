// tarnwick-cli as a script runs it, against expander-sim on pseudo-terminals:
// every subcommand, four enclosures at once, Ctrl+C during an image and
// during the bootloader, and the bad inputs that must send nothing. The
// simulator's report is the judge of what reached the line.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/cli_setup.h"
#include "integration/cli_process.h"
#include "integration/sim_process.h"

namespace {

using cliproc::CliProcess;
using cliproc::RunCli;
using simproc::ReadAll;
using simproc::Report;
using simproc::SimProcess;

const std::vector<std::string> kSimBase = {"--version", "1.02.0000.10", "--reboot-seconds", "3"};

std::vector<std::string> SimArgs(std::vector<std::string> extra) {
  std::vector<std::string> args = kSimBase;
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

// An image file made by fwimage with `images` (its options) and `version`.
std::string MakeFile(const std::string& path, const std::string& images,
                     const std::string& version = "1.02.0000.11") {
  const std::string make = std::string(TARNWICK_FWIMAGE_PATH) + " make '" + path + "' " + images +
                           " --version " + version + " >/dev/null";
  EXPECT_EQ(0, std::system(make.c_str()));
  return ReadAll(path);
}

std::string Sha256Of(const std::string& bytes, const std::string& dir) {
  const std::string path = dir + "/slice.bin";
  simproc::WriteAll(path, bytes);
  FILE* p = popen(("sha256sum '" + path + "'").c_str(), "r");
  char hex[65] = "";
  if (p) {
    if (fscanf(p, "%64s", hex) != 1) hex[0] = '\0';
    pclose(p);
  }
  return hex;
}

// The outcome in the summary table's row of `port` (the names are padded to
// the longest, so /dev/pts/6 and /dev/pts/15 differ in their blanks).
std::string SummaryOutcome(const std::string& out, const std::string& port) {
  for (size_t at = 0; at < out.size();) {
    size_t end = out.find('\n', at);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(at, end - at);
    at = end + 1;
    if (line.rfind(port + " ", 0) != 0) continue;
    const size_t from = line.find_first_not_of(' ', port.size());
    if (from == std::string::npos) return "";
    return line.substr(from, line.find(' ', from) - from);
  }
  return "";
}

// The simulator received every image of `bytes` whole, in file order, and
// saw no violation.
void ExpectIntact(SimProcess& sim, const std::string& bytes, const std::vector<size_t>& lengths) {
  EXPECT_EQ(0, sim.Stop());
  const Report report = sim.ReadReport();
  EXPECT_TRUE(report.violations.empty()) << report.raw;
  ASSERT_EQ(lengths.size(), report.images.size()) << report.raw;
  size_t at = 0;
  for (size_t i = 0; i < lengths.size(); ++i) {
    EXPECT_TRUE(report.images[i].terminated) << "image " << i;
    EXPECT_TRUE(ReadAll(report.images[i].file) == bytes.substr(at, lengths[i])) << "image " << i;
    at += lengths[i];
  }
}

TEST(CliSimTest, ProbeTellsFoundTooOldAndSilentApart) {
  struct Case {
    const char* name;
    std::vector<std::string> sim;
    int code;
    const char* outcome;
  } cases[] = {
      {"found", {"--version", "1.02.0000.10"}, 0, "success"},
      {"too old", {"--version", "0.01.0000.04"}, 5, "firmware-too-old"},
      {"silent", {"--silent-seconds", "120"}, 4, "device-not-found"},
      // A busy answer is asked again, not taken for old firmware.
      {"busy first answer", {"--version", "1.02.0000.10", "--busy-version", "1"}, 0, "success"},
  };
  // Side by side: the silent console takes the whole wait.
  std::vector<std::unique_ptr<SimProcess>> sims;
  const size_t n = sizeof cases / sizeof cases[0];
  std::vector<cliproc::Run> runs(n);
  std::vector<std::thread> threads;
  // Every simulator first: a failed start must not leave a thread unjoined.
  for (size_t i = 0; i < n; ++i) {
    sims.emplace_back(new SimProcess);
    ASSERT_TRUE(sims[i]->Start(cases[i].sim));
  }
  for (size_t i = 0; i < n; ++i)
    threads.emplace_back([&, i] { runs[i] = RunCli({"probe", "--port", sims[i]->path(), "--json"}); });
  for (auto& t : threads) t.join();
  for (size_t i = 0; i < n; ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(cases[i].code, runs[i].code) << runs[i].out << runs[i].err;
    ASSERT_FALSE(runs[i].events.empty());
    const auto& result = runs[i].events.back();
    EXPECT_EQ("result", result.value("event", ""));
    EXPECT_EQ(cases[i].outcome, result.value("outcome", ""));
    EXPECT_EQ(sims[i]->path(), result.value("port", ""));
  }
  ASSERT_GE(runs[0].events.size(), 2u);
  EXPECT_EQ("1.02.0000.10", runs[0].events[1].value("version", ""));
  // Plain output: the dialog's line.
  const cliproc::Run plain = RunCli({"probe", "--port", sims[0]->path()});
  EXPECT_EQ(0, plain.code);
  EXPECT_EQ("Firmware v1.02.0000.10 detected!\n", plain.out);
}

TEST(CliSimTest, InfoShowsTheTableAsTheDownloadSendsIt) {
  SimProcess sim;  // only for its folder
  ASSERT_TRUE(sim.Start({}));
  const std::string file = sim.dir() + "/boot-first.bin";
  const std::string bytes = MakeFile(file, "--image boot:1K --image fw:2K");
  const cliproc::Run run = RunCli({"info", file, "--json"});
  ASSERT_EQ(0, run.code) << run.err;
  const nlohmann::json table = nlohmann::json::parse(run.out);
  EXPECT_EQ(Sha256Of(bytes, sim.dir()), table["sha256"]);
  EXPECT_EQ("1.02.0000.11", table["version"]);
  EXPECT_EQ("rebooting", table["path"]);
  ASSERT_EQ(2u, table["images"].size());
  // The bootloader comes first in the file and last in the download.
  const auto& fw = table["images"][0];
  const auto& boot = table["images"][1];
  EXPECT_EQ("firmware", fw["kind"]);
  EXPECT_EQ("bootloader", boot["kind"]);
  EXPECT_EQ(Sha256Of(bytes.substr(fw["offset"], fw["length"]), sim.dir()), fw["sha256"]);
  EXPECT_EQ(Sha256Of(bytes.substr(boot["offset"], boot["length"]), sim.dir()), boot["sha256"]);
  const cliproc::Run text = RunCli({"info", file});
  EXPECT_NE(std::string::npos, text.out.find("path:       with rebooting")) << text.out;
}

TEST(CliSimTest, DownloadReportsEveryStepAsJsonAndTheImageArrivesWhole) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start(SimArgs({})));
  const std::string file = sim.dir() + "/fw.bin";
  const std::string bytes = MakeFile(file, "--image fw:6000");
  const std::string log = sim.dir() + "/trace.log";
  const cliproc::Run run = RunCli(
      {"download", "--port", sim.path(), "--file", file, "--json", "--log", log, "--dlretry", "4"});
  ASSERT_EQ(0, run.code) << run.out << run.err;
  std::vector<std::string> names;
  int lastPercent = -1;
  for (const auto& e : run.events) {
    EXPECT_EQ(sim.path(), e.value("port", ""));
    const std::string name = e.value("event", "");
    if (names.empty() || names.back() != name) names.push_back(name);
    if (name == "progress") {
      EXPECT_GT(e.value("percent", -1), lastPercent);
      lastPercent = e.value("percent", -1);
    }
  }
  EXPECT_EQ(100, lastPercent);
  ASSERT_GE(names.size(), 5u);
  EXPECT_EQ("start", names.front());
  EXPECT_EQ("version", names[1]);
  EXPECT_EQ("result", names.back());
  EXPECT_TRUE(run.events.back().value("ok", false));
  EXPECT_EQ("all", run.events.back().value("written", ""));
  EXPECT_EQ("Done: every image was written and accepted. Power cycle the system for the new "
            "firmware to take effect.",
            run.events.back().value("message", ""));
  // The trace went to the file, with the setting given as an option.
  EXPECT_NE(std::string::npos, ReadAll(log).find("my_cfg.dlretry=4 times"));
  EXPECT_TRUE(run.err.empty()) << run.err;
  ExpectIntact(sim, bytes, {6028});
  // The download is in this machine's history, as `history` prints it.
  const cliproc::Run history = RunCli({"history", "--port", sim.path(), "--json"});
  EXPECT_EQ(0, history.code) << history.err;
  EXPECT_NE(std::string::npos, history.out.find(Sha256Of(bytes, sim.dir()))) << history.out;
}

// A bootloader without a firmware image goes in the one sequence; rejected
// there it is still the bootloader failure: exit 8, never "power cycle".
TEST(CliSimTest, BootloaderRejectedOnTheNormalPathIsCode8) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start(SimArgs({"--reject-part", "0xFF"})));
  const std::string file = sim.dir() + "/boot.bin";
  MakeFile(file, "--image 01:1K --image boot:1K");
  const cliproc::Run run = RunCli({"download", "--port", sim.path(), "--file", file, "--json"});
  EXPECT_EQ(8, run.code) << run.out << run.err;
  ASSERT_FALSE(run.events.empty());
  const auto& result = run.events.back();
  EXPECT_EQ("bootloader-failed", result.value("outcome", ""));
  EXPECT_EQ("partly", result.value("written", ""));
  EXPECT_NE(std::string::npos, result.value("message", "").find("Do not power cycle"));
  // The dialog's own text is in the status events, where a script reads it.
  bool dialogText = false;
  for (const auto& e : run.events) {
    dialogText |= e.value("text", "").rfind("Bootloader image download failed", 0) == 0;
  }
  EXPECT_TRUE(dialogText);
  EXPECT_EQ(0, sim.Stop());
}

// A bootloader refused once on the path with rebooting: the new firmware
// runs, yet the file is not current until a rerun wrote its bootloader whole.
// The first bootloader packet is the sixth (the firmware takes five) and
// only one attempt is allowed, so the first run loses it and the next does not.
TEST(CliSimTest, RerunAfterAFailedBootloaderFinishesTheJob) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start(SimArgs({"--reject", "6", "--new-version", "1.02.0000.11"})));
  const std::string file = sim.dir() + "/fw.bin";
  const std::string bytes = MakeFile(file, "--image fw:1K --image boot:1K");
  const std::vector<std::string> download = {"download", "--port", sim.path(), "--file", file,
                                             "--skip-if-current", "--dlretry", "1", "--json"};
  const std::vector<std::string> verify = {"verify", "--port", sim.path(), "--file", file, "--json"};
  struct Step {
    std::vector<std::string> args;
    int code;
    const char* outcome;
    const char* says;
  } steps[] = {
      {download, 8, "bootloader-failed", "Do not power cycle"},
      {verify, 11, "not-current", "did not write its bootloader image"},
      {download, 0, "success", "every image was written and accepted"},
      {verify, 0, "success", "runs, the version of"},
      {download, 0, "already-current", "nothing was sent"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.args[0] + " expecting " + step.outcome);
    const cliproc::Run run = RunCli(step.args);
    EXPECT_EQ(step.code, run.code) << run.out << run.err;
    ASSERT_FALSE(run.events.empty()) << run.err;
    EXPECT_EQ(step.outcome, run.events.back().value("outcome", ""));
    EXPECT_NE(std::string::npos, run.events.back().value("message", "").find(step.says))
        << run.events.back().value("message", "");
  }
  EXPECT_EQ(0, sim.Stop());
  const Report report = sim.ReadReport();
  // The rerun sent the firmware and then the bootloader; the last image is
  // the bootloader, whole.
  ASSERT_FALSE(report.images.empty()) << report.raw;
  const simproc::ReportImage& last = report.images.back();
  EXPECT_EQ(0xFF, last.part);
  EXPECT_TRUE(last.terminated);
  EXPECT_TRUE(ReadAll(last.file) == bytes.substr(1052, 1052)) << report.raw;
}

// Nothing but the start-up check's questions reached the simulator.
void ExpectOnlyAsked(SimProcess& sim) {
  EXPECT_EQ(0, sim.Stop());
  const Report report = sim.ReadReport();
  for (const std::string& c : report.CommandNames()) {
    EXPECT_TRUE(c == "prompt" || c == "version query") << c << "\n" << report.raw;
  }
  EXPECT_TRUE(report.images.empty()) << report.raw;
  EXPECT_EQ(0, report.reboots);
}

// plan over many ports at once, one file: per port what the download would
// do and why, the most severe code of the ports, and nothing on the line but
// the start-up questions. The history is this test's own (a sim's folder).
TEST(CliSimTest, PlanSaysPerPortWhatTheDownloadWouldDo) {
  struct Case {
    const char* file;  // "fw": firmware only, "boot": firmware and bootloader
    const char* version;
    int code;
    const char* outcome;
    bool download;
    const char* current;
    const char* path;
    bool defaults;
  } cases[] = {
      {"fw", "1.01.0000.05", 0, "would-download", true, "version-differs", "normal", true},
      {"fw", "1.02.0000.10", 0, "would-download", true, "version-differs", "normal", false},
      {"fw", "1.02.0000.11", 0, "already-current", false, "current", "normal", false},
      // The file's firmware runs, but no download of its bootloader is known here.
      {"boot", "1.02.0000.11", 0, "would-download", true, "bootloader-unknown", "rebooting", false},
      {"boot", "1.01.0000.05", 0, "would-download", true, "version-differs", "rebooting", true},
      // A file older than the running firmware is refused as the download would.
      {"boot", "2.01.0000.00", 2, "older-file", false, "version-differs", "rebooting", false},
      {"boot", "0.01.0000.04", 5, "firmware-too-old", false, "", "", false},
  };
  const size_t n = sizeof cases / sizeof cases[0];
  std::vector<std::unique_ptr<SimProcess>> sims;
  for (const Case& c : cases) {
    sims.emplace_back(new SimProcess);
    ASSERT_TRUE(sims.back()->Start({"--version", c.version}));
  }
  ASSERT_EQ(n, sims.size());
  const std::string dir = sims[0]->dir();
  ASSERT_EQ(0, setenv("TARNWICK_STATE_DIR", dir.c_str(), 1));
  MakeFile(dir + "/fw.bin", "--image fw:1K");
  MakeFile(dir + "/boot.bin", "--image fw:1K --image boot:1K");
  for (const char* file : {"fw", "boot"}) {
    SCOPED_TRACE(file);
    std::vector<std::string> args = {"plan", "--file", dir + "/" + file + ".bin",
                                     "--skip-if-current", "--json"};
    std::vector<size_t> asked;
    int worst = 0;
    for (size_t i = 0; i < n; ++i) {
      if (strcmp(cases[i].file, file) != 0) continue;
      args.insert(args.end(), {"--port", sims[i]->path()});
      asked.push_back(i);
      if (cases[i].code != 0) worst = cases[i].code;
    }
    const cliproc::Run run = RunCli(args);
    EXPECT_EQ(worst, run.code) << run.out << run.err;
    ASSERT_FALSE(run.events.empty()) << run.err;
    const nlohmann::json& summary = run.events.back();
    ASSERT_EQ("summary", summary.value("event", "")) << run.out;
    ASSERT_EQ(asked.size(), summary["ports"].size());
    for (size_t k = 0; k < asked.size(); ++k) {
      const Case& c = cases[asked[k]];
      const nlohmann::json& p = summary["ports"][k];
      SCOPED_TRACE(c.version);
      EXPECT_EQ(sims[asked[k]]->path(), p.value("port", ""));
      EXPECT_EQ(c.code, p.value("exit_code", -1));
      EXPECT_EQ(c.outcome, p.value("outcome", "")) << p.dump();
      EXPECT_EQ(c.download, p.value("would_download", false));
      EXPECT_EQ(c.current, p.value("current", ""));
      EXPECT_EQ(c.path, p.value("path", ""));
      EXPECT_EQ(c.defaults, p.value("factory_defaults", false));
      // Each port's own plan event came before the summary.
      int plans = 0;
      for (const auto& e : run.events) {
        plans += e.value("event", "") == "plan" && e.value("port", "") == sims[asked[k]]->path();
      }
      EXPECT_EQ(c.current[0] != '\0' ? 1 : 0, plans);
    }
  }
  unsetenv("TARNWICK_STATE_DIR");
  for (auto& sim : sims) ExpectOnlyAsked(*sim);
}

// The running version against the file's record (--skip-if-current, verify)
// and the file against a published digest (--sha256). The simulator runs
// 1.02.0000.10; "same.bin" holds that version, "newer.bin" 1.02.0000.11,
// "older.bin" 1.02.0000.09.
TEST(CliSimTest, VersionAndDigestChecksDecideWhatIsSent) {
  SimProcess files;  // only for its folder
  ASSERT_TRUE(files.Start({}));
  const std::string same = files.dir() + "/same.bin";
  const std::string newer = files.dir() + "/newer.bin";
  const std::string older = files.dir() + "/older.bin";
  MakeFile(same, "--image fw:1000", "1.02.0000.10");
  MakeFile(older, "--image fw:1000", "1.02.0000.09");
  const std::string newerBytes = MakeFile(newer, "--image fw:1000");
  const std::string digest = Sha256Of(newerBytes, files.dir());
  std::string upper = digest;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  const std::string wrong(64, 'a');
  struct Case {
    const char* name;
    std::vector<std::string> args;  // after the subcommand, --port and --json
    int code;
    const char* outcome;
    const char* written;  // "" for verify
    bool sent;            // the image reached the simulator
    const char* says;
  } cases[] = {
      {"download, already current", {"download", "--file", same, "--skip-if-current"}, 0,
       "already-current", "nothing", false, "runs already"},
      {"download, newer file", {"download", "--file", newer, "--skip-if-current", "--sha256", upper},
       0, "success", "all", true, "every image was written and accepted"},
      {"download, same version without the option", {"download", "--file", same}, 0, "success",
       "all", true, "every image was written and accepted"},
      {"download, wrong digest", {"download", "--file", newer, "--sha256", wrong}, 2, "bad-input",
       "nothing", false, ""},
      {"download, older file", {"download", "--file", older}, 2, "older-file", "nothing", false,
       "holds v1.02.0000.09, older than the running v1.02.0000.10; nothing was sent. Give "
       "--allow-older"},
      {"download, older file allowed", {"download", "--file", older, "--allow-older"}, 0,
       "success", "all", true, "every image was written and accepted"},
      {"verify, same", {"verify", "--file", same}, 0, "success", "", false, "runs, the version"},
      {"verify, differs", {"verify", "--file", newer}, 10, "version-differs", "", false,
       "holds v1.02.0000.11"},
      {"verify, wrong digest", {"verify", "--file", newer, "--sha256", wrong}, 2, "bad-input", "",
       false, ""},
  };
  // Side by side, each with a simulator of its own.
  const size_t n = sizeof cases / sizeof cases[0];
  std::vector<std::unique_ptr<SimProcess>> sims;
  std::vector<cliproc::Run> runs(n);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < n; ++i) {
    sims.emplace_back(new SimProcess);
    ASSERT_TRUE(sims[i]->Start(SimArgs({})));
  }
  for (size_t i = 0; i < n; ++i) {
    std::vector<std::string> args = {cases[i].args[0], "--port", sims[i]->path(), "--json"};
    args.insert(args.end(), cases[i].args.begin() + 1, cases[i].args.end());
    threads.emplace_back([&runs, i, args] { runs[i] = RunCli(args); });
  }
  for (auto& t : threads) t.join();
  for (size_t i = 0; i < n; ++i) {
    const Case& c = cases[i];
    const cliproc::Run& run = runs[i];
    SimProcess& sim = *sims[i];
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.code, run.code) << run.out << run.err;
    ASSERT_FALSE(run.events.empty()) << run.err;
    const auto& result = run.events.back();
    EXPECT_EQ("result", result.value("event", ""));
    EXPECT_EQ(c.outcome, result.value("outcome", ""));
    EXPECT_EQ(c.written, result.value("written", ""));
    const std::string message = result.value("message", "");
    if (c.code == 2 && c.says[0] == '\0') {
      // Both digests named, so that whoever reads it sees which file is wrong.
      EXPECT_NE(std::string::npos, message.find(digest)) << message;
      EXPECT_NE(std::string::npos, message.find(wrong)) << message;
    } else {
      EXPECT_NE(std::string::npos, message.find(c.says)) << message;
      EXPECT_EQ("1.02.0000.10", result.value(c.args[0] == "verify" ? "version" : "version_before", ""));
    }
    if (c.sent) {
      ExpectIntact(sim, c.args[2] == newer ? newerBytes : ReadAll(same), {1028});
    } else {
      ExpectOnlyAsked(sim);
    }
  }
}

// Several ports with --skip-if-current: each decides on its own version, and
// the summary tells which were written.
TEST(CliParallelSimTest, SkipIfCurrentIsDecidedPerPort) {
  SimProcess old, current;
  ASSERT_TRUE(old.Start(SimArgs({})));
  ASSERT_TRUE(current.Start(SimArgs({"--version", "1.02.0000.11"})));
  const std::string file = old.dir() + "/fw.bin";
  const std::string bytes = MakeFile(file, "--image fw:1000");
  const cliproc::Run run = RunCli({"download", "--port", old.path(), "--port", current.path(),
                                   "--file", file, "--skip-if-current", "--json"});
  ASSERT_EQ(0, run.code) << run.out << run.err;
  ASSERT_FALSE(run.events.empty());
  const auto& summary = run.events.back();
  EXPECT_EQ("success", summary.value("outcome", ""));
  ASSERT_EQ(2u, summary["ports"].size());
  EXPECT_EQ("success", summary["ports"][0].value("outcome", ""));
  EXPECT_EQ("all", summary["ports"][0].value("written", ""));
  EXPECT_EQ("already-current", summary["ports"][1].value("outcome", ""));
  EXPECT_EQ("nothing", summary["ports"][1].value("written", ""));
  EXPECT_EQ("1.02.0000.11", summary["ports"][1].value("version_after", ""));
  ExpectIntact(old, bytes, {1028});
  ExpectOnlyAsked(current);
}

TEST(CliSimTest, PortsListsWhatTheTreeHolds) {
  SimProcess sim;  // only for its folder
  ASSERT_TRUE(sim.Start({}));
  const std::string sys = sim.dir() + "/sys", dev = sim.dir() + "/dev";
  const std::string usb = sys + "/devices/usb1/1-1";
  ASSERT_EQ(0, std::system(("mkdir -p " + usb + "/1-1:1.0/ttyUSB0 " + sys + "/class/tty/ttyUSB0 " +
                            dev + "/serial/by-id && touch " + dev + "/ttyUSB0")
                               .c_str()));
  simproc::WriteAll(usb + "/idVendor", "0403\n");
  simproc::WriteAll(usb + "/idProduct", "6001\n");
  simproc::WriteAll(usb + "/serial", "A9X1\n");
  ASSERT_EQ(0, symlink((usb + "/1-1:1.0/ttyUSB0").c_str(), (sys + "/class/tty/ttyUSB0/device").c_str()));
  ASSERT_EQ(0, symlink("../../ttyUSB0", (dev + "/serial/by-id/usb-FTDI_A9X1-if00-port0").c_str()));
  const cliproc::Run run = RunCli({"ports", "--json", "--sys-root", sys, "--dev-root", dev});
  ASSERT_EQ(0, run.code) << run.err;
  const nlohmann::json port = nlohmann::json::parse(run.out);
  EXPECT_EQ(dev + "/ttyUSB0", port["port"]);
  EXPECT_EQ("0403", port["vendor_id"]);
  EXPECT_EQ("A9X1", port["serial"]);
  EXPECT_EQ(dev + "/serial/by-id/usb-FTDI_A9X1-if00-port0", port["by_id"]);
  // The simulator's pseudo-terminal is not among them, and stderr says so
  // without touching the JSON on stdout.
  EXPECT_EQ(std::string::npos, run.out.find(sim.path()));
  EXPECT_NE(std::string::npos, run.err.find(kPortsNotListed)) << run.err;
}

// Four enclosures at once, each in its own process: every simulator gets the
// whole image, and the JSON events name their port.
TEST(CliParallelSimTest, FourSimulatorsEachReceiveTheWholeImage) {
  std::vector<std::unique_ptr<SimProcess>> sims;
  std::vector<std::string> args = {"download"};
  for (int i = 0; i < 4; ++i) {
    sims.emplace_back(new SimProcess);
    ASSERT_TRUE(sims[i]->Start(SimArgs({})));
    args.insert(args.end(), {"--port", sims[i]->path()});
  }
  const std::string file = sims[0]->dir() + "/fw.bin";
  const std::string bytes = MakeFile(file, "--image fw:5000");
  args.insert(args.end(), {"--file", file, "--json"});
  const cliproc::Run run = RunCli(args);
  ASSERT_EQ(0, run.code) << run.out << run.err;
  ASSERT_FALSE(run.events.empty());
  const auto& summary = run.events.back();
  EXPECT_EQ("summary", summary.value("event", ""));
  EXPECT_TRUE(summary.value("ok", false));
  ASSERT_EQ(4u, summary["ports"].size());
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE("port " + std::to_string(i));
    EXPECT_EQ(sims[i]->path(), summary["ports"][i]["port"]);
    EXPECT_EQ(0, summary["ports"][i]["exit_code"]);
    int results = 0;
    for (const auto& e : run.events) {
      if (e.value("port", "") == sims[i]->path() && e.value("event", "") == "result") ++results;
    }
    EXPECT_EQ(1, results);
    ExpectIntact(*sims[i], bytes, {5028});
  }
}

// One port fails, the other succeeds: the run fails with the failed port's
// code, and the summary table shows both.
TEST(CliParallelSimTest, OneFailedPortFailsTheRun) {
  SimProcess good, bad;
  ASSERT_TRUE(good.Start(SimArgs({})));
  ASSERT_TRUE(bad.Start(SimArgs({"--reject-part", "0x06"})));
  const std::string file = good.dir() + "/fw.bin";
  MakeFile(file, "--image fw:1000");
  const cliproc::Run run = RunCli({"download", "--port", good.path(), "--port", bad.path(), "--file",
                                   file, "--dlretry", "2", "--quiet"});
  EXPECT_EQ(6, run.code) << run.out << run.err;
  EXPECT_EQ("success", SummaryOutcome(run.out, good.path())) << run.out;
  EXPECT_EQ("download-failed", SummaryOutcome(run.out, bad.path())) << run.out;
  // Every line of the table fits an 80-column terminal; the messages wrap under their rows.
  for (size_t at = 0, end; at < run.out.size(); at = end + 1) {
    end = run.out.find('\n', at);
    if (end == std::string::npos) end = run.out.size();
    EXPECT_LE(end - at, 80u) << run.out.substr(at, end - at);
  }
  EXPECT_NE(std::string::npos, run.out.find("\n    The download failed")) << run.out;
}

// A port that cannot be opened stops the whole run before anything is sent,
// also on the ports that could.
TEST(CliParallelSimTest, NothingIsSentAnywhereUntilEveryPortIsOpen) {
  SimProcess free, held;
  ASSERT_TRUE(free.Start(SimArgs({})));
  ASSERT_TRUE(held.Start(SimArgs({})));
  const std::string file = free.dir() + "/fw.bin";
  MakeFile(file, "--image fw:1000");
  const int holder = open(held.path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(0, flock(holder, LOCK_EX | LOCK_NB));
  const cliproc::Run run =
      RunCli({"download", "--port", free.path(), "--port", held.path(), "--file", file});
  close(holder);
  EXPECT_EQ(3, run.code) << run.out << run.err;
  EXPECT_EQ("cannot-open-port", SummaryOutcome(run.out, held.path())) << run.out;
  EXPECT_EQ("stopped", SummaryOutcome(run.out, free.path())) << run.out;
  for (SimProcess* sim : {&free, &held}) {
    EXPECT_EQ(0, sim->Stop());
    EXPECT_TRUE(sim->ReadReport().commands.empty()) << sim->ReadReport().raw;
  }
}

// A stop to the parent of a many-ports run reaches every child: each
// download ends as stopped with its image incomplete, and the parent's trace
// keeps the summary. SIGHUP, as a dropped ssh session sends it; Ctrl+C and
// SIGTERM take the same way.
TEST(CliParallelSimTest, AStopToTheParentStopsEveryPort) {
  SimProcess a, b;
  ASSERT_TRUE(a.Start(SimArgs({"--baud", "115200"})));
  ASSERT_TRUE(b.Start(SimArgs({"--baud", "115200"})));
  const std::string file = a.dir() + "/fw.bin";
  MakeFile(file, "--image fw:24K");
  const std::string log = a.dir() + "/trace.log";
  CliProcess cli;
  ASSERT_TRUE(cli.Start({"download", "--port", a.path(), "--port", b.path(), "--file", file,
                         "--json", "--log", log}));
  nlohmann::json e;
  std::set<std::string> under_way;
  while (under_way.size() < 2) {
    ASSERT_TRUE(cli.WaitEvent("progress", &e)) << cli.err();
    if (e.value("percent", 0) >= 10) under_way.insert(e.value("port", ""));
  }
  cli.Signal(SIGHUP);
  EXPECT_EQ(7, cli.Wait()) << cli.err();
  EXPECT_EQ(2u, cli.Texts("stop_requested").size());
  ASSERT_FALSE(cli.events().empty());
  EXPECT_EQ("stopped", cli.events().back().value("outcome", ""));
  EXPECT_NE(std::string::npos, ReadAll(log).find("tarnwick-cli: result stopped (exit 7)"));
  EXPECT_NE(std::string::npos, ReadAll(log + ".1").find("tarnwick-cli: result stopped (exit 7)"));
  for (SimProcess* sim : {&a, &b}) {
    EXPECT_EQ(0, sim->Stop());
    const Report report = sim->ReadReport();
    EXPECT_TRUE(report.violations.empty()) << report.raw;
    ASSERT_EQ(1u, report.images.size()) << report.raw;
    EXPECT_FALSE(report.images[0].terminated);
  }
}

// Ctrl+C while the firmware image is under way: the download ends as
// stopped, the image is never completed and nothing more reaches the line.
TEST(CliStopSimTest, CtrlCDuringAnImageStopsTheDownload) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start(SimArgs({"--baud", "115200"})));
  const std::string file = sim.dir() + "/fw.bin";
  MakeFile(file, "--image fw:24K");
  CliProcess cli;
  ASSERT_TRUE(cli.Start({"download", "--port", sim.path(), "--file", file, "--json"}));
  nlohmann::json e;
  do {
    ASSERT_TRUE(cli.WaitEvent("progress", &e)) << cli.err();
  } while (e.value("percent", 0) < 20);
  cli.Signal(SIGINT);
  EXPECT_EQ(7, cli.Wait()) << cli.err();
  EXPECT_EQ(1u, cli.Texts("stop_requested").size());
  ASSERT_FALSE(cli.events().empty());
  EXPECT_EQ("stopped", cli.events().back().value("outcome", ""));
  EXPECT_EQ(0, sim.Stop());
  const Report report = sim.ReadReport();
  EXPECT_TRUE(report.violations.empty()) << report.raw;
  ASSERT_EQ(1u, report.images.size()) << report.raw;
  EXPECT_FALSE(report.images[0].terminated);
  EXPECT_EQ(0, report.reboots);
}

// Ctrl+C (twice, within two seconds) and SIGTERM while the bootloader is
// written: each is refused with the dialog's text and the download finishes.
TEST(CliStopSimTest, CtrlCDuringTheBootloaderIsRefused) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start(SimArgs({"--baud", "115200"})));
  const std::string file = sim.dir() + "/fw.bin";
  const std::string bytes = MakeFile(file, "--image fw:2K --image boot:12K");
  CliProcess cli;
  ASSERT_TRUE(cli.Start({"download", "--port", sim.path(), "--file", file, "--json"}));
  nlohmann::json e;
  do {
    ASSERT_TRUE(cli.WaitEvent("status", &e)) << cli.err();
  } while (e.value("text", "").find("Downloading bootloader image") == std::string::npos);
  // The first packet's progress: the bootloader flag is up.
  ASSERT_TRUE(cli.WaitEvent("progress", &e));
  cli.Signal(SIGINT);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  cli.Signal(SIGINT);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  cli.Signal(SIGTERM);
  EXPECT_EQ(0, cli.Wait()) << cli.err();
  const std::vector<std::string> refused = cli.Texts("stop_refused");
  ASSERT_EQ(3u, refused.size());
  EXPECT_EQ("Unable to quit, bootloader image download is in progress!", refused[0]);
  EXPECT_TRUE(cli.Texts("stop_requested").empty());
  ExpectIntact(sim, bytes, {2076, 12316});
}

// The files in `dir` whose names begin with "fwd" (the temporary images).
std::vector<std::string> TempImagesIn(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* e = readdir(d)) {
      if (strncmp(e->d_name, "fwd", 3) == 0) names.push_back(e->d_name);
    }
    closedir(d);
  }
  return names;
}

// What an ssh session that drops or a terminal window that closes does to a
// download: SIGHUP is a stop request like Ctrl+C (refused during the
// bootloader), and output that can no longer be written (EPIPE from a pipe
// whose reader has gone, EIO from a terminal that hung up) ends nothing. The
// result always reaches --log, and no temporary image is left behind.
TEST(CliStopSimTest, HangUpAndLostOutputEndNothingBadly) {
  enum class Output { kPlainPipe, kJsonPipe, kJsonTerminal };
  struct Case {
    const char* name;
    const char* images;
    Output output;
    bool inBootloader;  // act once the bootloader is under way, else at 20 %
    bool hangUp;        // SIGHUP
    bool closeOutput;   // our end of its standard output closed first
    int code;
    const char* logged;  // the result line in the trace
  } cases[] = {
      {"SIGHUP during the firmware image", "--image fw:24K", Output::kPlainPipe, false, true,
       false, 7, "tarnwick-cli: result stopped (exit 7): Stopped during the download"},
      {"the terminal hangs up during the bootloader", "--image fw:2K --image boot:12K",
       Output::kJsonTerminal, true, true, true, 0, "tarnwick-cli: result success (exit 0)"},
      {"the reader of its output goes away", "--image fw:24K", Output::kJsonPipe, false, false,
       true, 0, "tarnwick-cli: result success (exit 0)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimProcess sim;
    ASSERT_TRUE(sim.Start(SimArgs({"--baud", "115200"})));
    const std::string file = sim.dir() + "/fw.bin";
    const std::string bytes = MakeFile(file, c.images);
    const std::string tmp = sim.dir() + "/tmp";
    ASSERT_EQ(0, mkdir(tmp.c_str(), 0700));
    const std::string log = sim.dir() + "/trace.log";
    std::vector<std::string> args = {"download", "--port", sim.path(), "--file", file, "--log", log};
    if (c.output != Output::kPlainPipe) args.push_back("--json");
    CliProcess cli;
    ASSERT_TRUE(cli.Start(args, {"TMPDIR=" + tmp}, c.output == Output::kJsonTerminal));
    nlohmann::json e;
    if (c.output == Output::kPlainPipe) {
      std::string line;
      do {
        ASSERT_TRUE(cli.ReadLine(&line)) << cli.err();
      } while (line.rfind("progress: 20%", 0) != 0);
    } else if (c.inBootloader) {
      do {
        ASSERT_TRUE(cli.WaitEvent("status", &e)) << cli.err();
      } while (e.value("text", "").find("Downloading bootloader image") == std::string::npos);
      ASSERT_TRUE(cli.WaitEvent("progress", &e));  // the bootloader flag is up
    } else {
      do {
        ASSERT_TRUE(cli.WaitEvent("progress", &e)) << cli.err();
      } while (e.value("percent", 0) < 20);
    }
    if (c.closeOutput) cli.CloseOutput();
    if (c.hangUp) cli.Signal(SIGHUP);
    EXPECT_EQ(c.code, cli.Wait()) << cli.err();
    const std::string trace = ReadAll(log);
    EXPECT_NE(std::string::npos, trace.find(c.logged)) << trace;
    EXPECT_TRUE(TempImagesIn(tmp).empty());
    if (c.output == Output::kPlainPipe) {
      EXPECT_NE(std::string::npos, cli.out().find("\nStopped during the download: power cycle"))
          << cli.out();
    }
    if (c.inBootloader) {
      EXPECT_NE(std::string::npos, trace.find("Unable to quit, bootloader image download is in "
                                              "progress!")) << trace;
    }
    if (c.code == 0) {
      // Each image with its 28-byte header.
      const std::vector<size_t> lengths = c.inBootloader ? std::vector<size_t>{2076, 12316}
                                                         : std::vector<size_t>{24604};
      ExpectIntact(sim, bytes, lengths);
    } else {
      EXPECT_EQ(0, sim.Stop());
      const Report report = sim.ReadReport();
      ASSERT_EQ(1u, report.images.size()) << report.raw;
      EXPECT_FALSE(report.images[0].terminated);
    }
  }
}

// Bad input: a clear line, its exit code, and nothing on the line. One
// simulator watches every case and must have seen no command at all.
TEST(CliBadInputTest, EachIsRefusedBeforeAnythingIsSent) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start(SimArgs({})));
  const std::string d = sim.dir();
  const std::string file = d + "/fw.bin";
  MakeFile(file, "--image fw:1000");
  simproc::WriteAll(d + "/notes.txt", "not an image\n");
  simproc::WriteAll(d + "/short.bin", simproc::MakeImage(2000, 0x06).substr(0, 500));
  simproc::WriteAll(d + "/plain-file", "");
  // Seventeen images: the last would be dropped and the rest reported as the file.
  std::string many;
  for (int i = 0; i < 17; ++i) many += simproc::MakeImage(100, i == 16 ? 0xFF : 0x06);
  simproc::WriteAll(d + "/many.bin", many);
  // A path past the 259 characters the download holds, whose first 259 name
  // another image: checked one file, the download would have written the other.
  const std::string cut = d + "/" + std::string(259 - d.size() - 5, 'o') + ".bin";
  ASSERT_EQ(259u, cut.size());
  MakeFile(cut, "--image fw:500");
  const std::string tooLong = cut + ".new";
  MakeFile(tooLong, "--image fw:1000");
  // The same name as the file key of a settings file.
  const std::string longIni = d + "/long.ini";
  simproc::WriteAll(longIni, "[settings]\nfile=" + tooLong + "\n");
  const std::string tooLongText = "Error, the path of the image file has more than the 259 bytes";
  const std::string tooLongFileText =
      "Error, the path of the image file has 263 bytes, more than the 259 bytes";
  // Fewer than 259 letters, but more than 259 bytes: the limit counts bytes, and says so.
  const std::string wideDir = d + "/Pr\xc3\xbc" "fung \xe3\x83\x95\xe3\x82\xa1\xe3\x83\xbc\xe3\x83\xa0";
  ASSERT_EQ(0, mkdir(wideDir.c_str(), 0700));
  std::string wideName;
  for (int i = 0; i < 20; ++i) wideName += "\xe3\x83\x95\xe3\x82\xa1\xe3\x83\xbc\xe3\x83\xa0";
  const std::string widePath = wideDir + "/" + wideName + ".bin";
  MakeFile(widePath, "--image fw:1000");
  ASSERT_LT(d.size() + 13 + 84, 259u);
  const std::string wideText = "Error, the path of the image file has " +
                               std::to_string(widePath.size()) + " bytes, more than the 259 bytes";
  simproc::WriteAll(d + "/empty.bin", "");
  const std::string folderText = d + " is a folder.";
  ASSERT_EQ(0, symlink(sim.path().c_str(), (d + "/link").c_str()));
  const std::string port = sim.path();
  // Another program holds the port.
  const int holder = open(port.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  const std::string none = d + "/ttyNONE";
  // `json`: with --json the last line of standard output is this event,
  // whatever went wrong, and standard error stays empty; else nullptr.
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* says;
    const char* json = nullptr;
  } cases[] = {
      {{"download", "--port", port, "--file", file, "--speed", "9"}, 2, "--speed"},
      {{"download", "--port", port}, 2, "no image file"},
      {{"download", "--port", port, "--file", d + "/missing.bin"}, 2,
       "Error, file missing.bin doesn't exist!"},
      {{"download", "--port", port, "--file", d}, 2, "is not a valid firmware image!"},
      {{"download", "--port", port, "--file", d}, 2, folderText.c_str()},
      {{"download", "--port", port, "--file", d + "/notes.txt"}, 2,
       "Error, notes.txt is not a valid firmware image! It begins with \"not\", not with the "
       "signature \"VRQ\" that begins every image file."},
      {{"download", "--port", port, "--file", d + "/empty.bin"}, 2,
       "Error, empty.bin is not a valid firmware image! The file is empty."},
      {{"download", "--port", port, "--file", d + "/short.bin"}, 2, "runs past the end"},
      {{"download", "--port", port, "--file", d + "/many.bin"}, 2,
       "Error, many.bin holds 17 images, more than the 16 this utility can download!"},
      {{"download", "--port", port, "--file", tooLong}, 2, tooLongFileText.c_str()},
      {{"download", "--port", port, "--file", widePath}, 2, wideText.c_str()},
      {{"info", d + "/notes.txt"}, 2, "Error, notes.txt is not a valid firmware image!"},
      {{"download", "--port", d + "/ttyNONE", "--file", file}, 3, "there is no serial port"},
      // Every port refusal says where the ports of this machine are listed.
      {{"download", "--port", d + "/ttyNONE", "--file", file}, 3,
       "/ttyNONE. tarnwick-cli ports lists the serial ports of this machine."},
      {{"download", "--port", "COM0", "--file", file}, 2,
       "COM255. tarnwick-cli ports lists the serial ports of this machine."},
      {{"probe", "--port", "/dev/null"}, 3,
       "serial port. tarnwick-cli ports lists the serial ports of this machine."},
      {{"download", "--port", "ttyNONE9", "--file", file}, 3,
       "there is no serial port ttyNONE9 (tried ./ttyNONE9 and /dev/ttyNONE9). tarnwick-cli "
       "ports lists"},
      {{"download", "--port", port, "--port", none, "--file", file, "--json"}, 3,
       "/ttyNONE. tarnwick-cli ports lists the serial ports of this machine.", "summary"},
      {{"download", "--port", d + "/plain-file", "--file", file}, 3, "is not a serial port"},
      {{"probe", "--port", "/dev/null"}, 3, "/dev/null: it is not a serial port"},
      {{"download", "--port", "COM0", "--file", file}, 2, "COM1 to COM255"},
      {{"download", "--port", port, "--port", port, "--file", file}, 2, "named twice"},
      {{"download", "--port", d + "/link", "--port", port, "--file", file}, 2, "named twice"},
      {{"download", "--port", port, "--file", file, "--config", d + "/none.ini"}, 2,
       "cannot read the settings file"},
      {{"download", "--port", port, "--file", file, "--json", "--quiet"}, 2, "exclude", "result"},
      {{"download", "--port", port, "--json"}, 2, "no image file", "result"},
      {{"download", "--port", port, "--port", none, "--file", file, "--json", "--quiet"}, 2,
       "exclude", "summary"},
      {{"download", "--port", port, "--port", none, "--file", d + "/notes.txt", "--json"}, 2,
       "Error, notes.txt is not a valid firmware image!", "summary"},
      {{"download", "--port", port, "--port", none, "--file", file, "--json"}, 3,
       "there is no serial port", "summary"},
      {{"download", "--port", port, "--port", port, "--file", file, "--json"}, 2, "named twice",
       "summary"},
      {{"download", "--port", port, "--port", none, "--file", file, "--config", d + "/none.ini",
        "--json"},
       2, "cannot read the settings file", "summary"},
      {{"download", "--port", port, "--file", file, "--dlretry", "0"}, 2, "--dlretry"},
      {{"download", "--port", port, "--file", file, "--sha256", "12ab"}, 2, "64 hex digits"},
      {{"verify", "--port", port, "--file", file, "--sha256", std::string(64, 'g')}, 2,
       "hex digits only"},
      // The parser's own refusals end with the result line too.
      {{"download", "--port", port, "--file", file, "--speed", "9", "--json"}, 2, "--speed",
       "result"},
      {{"download", "--json", "--port", port, "--file", file, "--dlretry", "0"}, 2, "--dlretry",
       "result"},
      {{"download", "--port", port, "--file", file, "--sha256", "12ab", "--json"}, 2,
       "64 hex digits", "result"},
      {{"verify", "--port", port, "--file", file, "--sha256", std::string(64, 'g'), "--json"}, 2,
       "hex digits only", "result"},
      {{"probe", "--port=" + port, "--bogus", "--json"}, 2, "--bogus", "result"},
      {{"download", "--port", port, "--port", none, "--file", file, "--dlretry", "0", "--json"}, 2,
       "--dlretry", "summary"},
      // A file key too long for a path is refused, not cut to the name of another image.
      {{"download", "--port", port, "--config", longIni}, 2, tooLongText.c_str()},
      {{"download", "--port", port, "--config", longIni, "--json"}, 2, tooLongText.c_str(),
       "result"},
      {{"verify", "--port", port, "--config", longIni, "--json"}, 2, tooLongText.c_str(), "result"},
      {{"download", "--port", port, "--port", none, "--config", longIni, "--json"}, 2,
       tooLongText.c_str(), "summary"},
  };
  for (const Case& c : cases) {
    std::string all;
    for (const auto& a : c.args) all += a + " ";
    SCOPED_TRACE(all);
    const cliproc::Run run = RunCli(c.args);
    EXPECT_EQ(c.code, run.code);
    if (c.json != nullptr) {
      EXPECT_TRUE(run.err.empty()) << run.err;
      ASSERT_FALSE(run.events.empty()) << run.out;
      const nlohmann::json& last = run.events.back();
      EXPECT_EQ(c.json, last.value("event", ""));
      EXPECT_EQ(c.code, last.value("exit_code", -1));
      EXPECT_FALSE(last.value("ok", true));
      EXPECT_NE(std::string::npos, last.value("message", "").find(c.says)) << last.dump();
      if (last.contains("ports")) {
        // Every port named has its line: the one at fault its code, the
        // others stopped before they began (or all of them at fault).
        ASSERT_EQ(2u, last["ports"].size());
        for (const auto& p : last["ports"]) {
          const int code = p.value("exit_code", -1);
          EXPECT_TRUE(code == c.code || code == 7) << p.dump();
        }
      }
      continue;
    }
    EXPECT_NE(std::string::npos, run.err.find(c.says)) << run.err;
    // One line.
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
  }
  // Held: this process has the port open, which would take replies away
  // half-way; refused and named, with or without a lock on it.
  std::string self;
  std::getline(std::ifstream("/proc/self/comm"), self);
  const std::string named = self + " (process " + std::to_string(getpid()) + ")";
  for (bool locked : {false, true}) {
    if (locked) {
      ASSERT_EQ(0, flock(holder, LOCK_EX | LOCK_NB));
    }
    const cliproc::Run busy = RunCli({"download", "--port", port, "--file", file});
    EXPECT_EQ(3, busy.code);
    EXPECT_NE(std::string::npos, busy.err.find("is in use by another program: " + named))
        << busy.err;
  }
  close(holder);
  EXPECT_EQ(0, sim.Stop());
  const Report report = sim.ReadReport();
  EXPECT_TRUE(report.commands.empty()) << report.raw;
  EXPECT_TRUE(report.images.empty()) << report.raw;
}

}  // namespace
