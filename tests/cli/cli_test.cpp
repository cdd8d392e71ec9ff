// The command-line front end's own logic: port names, exit codes, the stop
// decision, settings from a file and options, the child's arguments, the
// output styles and the digest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/cli/cli_options.h"
#include "app/cli/cli_report.h"
#include "app/cli/cli_setup.h"
#include "app/cli/exit_codes.h"
#include "app/cli/port_name.h"
#include "platform/sha256.h"
#include "app/cli/stop_request.h"
#include "config/settings.h"
#include "image/fw_image.h"
#include "support/temp_file.h"
#include "support/trace_capture.h"

namespace {

TEST(CliPortNameTest, NamesAsUsersWriteThem) {
  struct Case {
    const char* text;
    bool paths;
    bool ok;
    int comport;
    const char* device;
  } cases[] = {
      {"COM3", false, true, 3, ""},        {"com12", false, true, 12, ""},
      {"\\\\.\\COM12", false, true, 12, ""}, {"7", true, true, 7, ""},
      {"255", false, true, 255, ""},       {"0", true, false, 0, ""},
      {"256", true, false, 0, ""},         {"COM0", true, false, 0, ""},
      {"COM", true, false, 0, ""},         {"COM3x", true, false, 0, ""},
      {"", true, false, 0, ""},            {"/dev/ttyUSB0", false, false, 0, ""},
      {"/dev/ttyUSB0", true, true, 0, "/dev/ttyUSB0"},
      {"/dev/serial/by-id/usb-FTDI_A9-if00", true, true, 0, "/dev/serial/by-id/usb-FTDI_A9-if00"},
      {"ttyACM1", true, true, 0, "/dev/ttyACM1"}, {"ttyACM1", false, false, 0, ""},
      // A console server's port, on both platforms, kept as given.
      {"socket://cs1:2001", false, true, 0, "socket://cs1:2001"},
      {"RFC2217://[::1]:7000", true, true, 0, "RFC2217://[::1]:7000"},
      {"tcp://cs1", false, false, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + (c.paths ? " (paths)" : ""));
    PortName name;
    std::string error;
    ASSERT_EQ(c.ok, ParsePortName(c.text, c.paths, &name, &error));
    if (!c.ok) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    EXPECT_EQ(c.comport, name.comport);
    EXPECT_EQ(c.device, name.device);
  }
}

TEST(CliPortNameTest, OneConsoleServerLineIsOnePortWhateverItsPrefix) {
  auto key = [](const char* text) {
    PortName name;
    ResolvedPort port;
    std::string error;
    EXPECT_TRUE(ParsePortName(text, false, &name, &error)) << error;
    EXPECT_TRUE(ResolveNetPort(name, &port)) << text;
    EXPECT_EQ(port.display, text);
    return port.key;
  };
  EXPECT_EQ(key("socket://CS1:2001"), key("rfc2217://cs1:2001"));
  EXPECT_NE(key("socket://cs1:2001"), key("socket://cs1:2002"));
}

TEST(CliExitCodeTest, EveryFailureHasItsCodeAndTheBootloaderOutranksAll) {
  EXPECT_EQ(kExitSuccess, ExitCodeForFailure(DownloadFailure::kNone));
  EXPECT_EQ(kExitDownloadFailed, ExitCodeForFailure(DownloadFailure::kFailed));
  EXPECT_EQ(kExitNotFound, ExitCodeForFailure(DownloadFailure::kNoVersion));
  EXPECT_EQ(kExitDownloadFailed, ExitCodeForFailure(DownloadFailure::kNotConfirmed));
  EXPECT_EQ(kExitBootloader, ExitCodeForFailure(DownloadFailure::kBootloader));
  // Nothing written: never the power-cycle code 6.
  for (DownloadFailure why : {DownloadFailure::kConsoleSilent, DownloadFailure::kNoVersion,
                              DownloadFailure::kBadImage, DownloadFailure::kStoppedBeforeWrite,
                              DownloadFailure::kPortLostBeforeWrite, DownloadFailure::kNotWritten}) {
    EXPECT_TRUE(NothingWritten(why));
    EXPECT_NE(kExitDownloadFailed, ExitCodeForFailure(why));
  }
  // A cause added later counts as a failed download until it gets its own code.
  EXPECT_EQ(kExitDownloadFailed, ExitCodeForFailure(static_cast<DownloadFailure>(99)));
  for (int code = kExitSuccess; code <= kExitVersionDiffers + 2; ++code) {
    for (const char* written : {"", "nothing", "partly", "all"}) {
      const PortResult other{code, written}, boot{kExitBootloader, "partly"};
      EXPECT_EQ(kExitBootloader, MoreSevere(other, boot).code);
      EXPECT_EQ(kExitBootloader, MoreSevere(boot, other).code);
    }
  }
}

// The summary of a many-ports run gives the code of its worst port: pairs
// of port results (exit code, written) and the code the pair sums to,
// whichever comes first.
TEST(CliExitCodeTest, TheSummaryNeverHidesWhatToDoWithThePower) {
  struct Case {
    PortResult a, b;
    int want;
  } cases[] = {
      // Must not be power cycled, above all.
      {{kExitBootloader, "partly"}, {kExitDownloadFailed, "partly"}, kExitBootloader},
      {{kExitBootloader, "partly"}, {kExitPortLost, "partly"}, kExitBootloader},
      // Must be power cycled: never behind a code that says nothing was written.
      {{kExitDownloadFailed, "partly"}, {kExitPortLost, "partly"}, kExitDownloadFailed},
      {{kExitDownloadFailed, "partly"}, {kExitPortLost, "nothing"}, kExitDownloadFailed},
      {{kExitStopped, "partly"}, {kExitNotFound, "nothing"}, kExitStopped},
      {{kExitStopped, "partly"}, {kExitInternal, "nothing"}, kExitStopped},
      {{kExitPortLost, "partly"}, {kExitInternal, "nothing"}, kExitPortLost},
      {{kExitPortLost, "partly"}, {kExitStopped, "partly"}, kExitPortLost},
      // Not told how far it came: it may have been cut off half-way.
      {{kExitStopped, ""}, {kExitCannotOpen, ""}, kExitStopped},
      // Left as it was: the ports that need something done come first.
      {{kExitStopped, "nothing"}, {kExitNotFound, "nothing"}, kExitNotFound},
      {{kExitPortLost, "nothing"}, {kExitInternal, "nothing"}, kExitPortLost},
      {{kExitPortLost, "all"}, {kExitTooOld, "nothing"}, kExitPortLost},
      {{kExitSuccess, "all"}, {kExitStopped, "nothing"}, kExitStopped},
      // A code added later: above every failure that left the expander as it
      // was, below those that tell what to do with the power.
      {{12, "nothing"}, {kExitPortLost, "nothing"}, 12},
      {{12, "nothing"}, {kExitPortLost, "partly"}, kExitPortLost},
      {{12, "partly"}, {kExitInternal, "nothing"}, 12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.a.code) + "/" + c.a.written + " with " +
                 std::to_string(c.b.code) + "/" + c.b.written);
    EXPECT_EQ(c.want, MoreSevere(c.a, c.b).code);
    EXPECT_EQ(c.want, MoreSevere(c.b, c.a).code);
  }
}

// Ctrl+C is refused while the bootloader is written, however often it comes,
// and is the Stop button otherwise.
TEST(CliStopTest, RefusedDuringTheBootloaderOnlyOtherwiseTheStopButton) {
  g_bStopDl = 0;
  g_bBootLoaderInProgress = 1;
  EXPECT_FALSE(DecideStopRequest());
  EXPECT_FALSE(DecideStopRequest());
  EXPECT_EQ(0u, g_bStopDl.load());
  EXPECT_FALSE(StopWasRequested());
  g_bBootLoaderInProgress = 0;
  EXPECT_TRUE(DecideStopRequest());
  EXPECT_EQ(1u, g_bStopDl.load());
  EXPECT_TRUE(StopWasRequested());
  g_bStopDl = 0;
}

TEST(CliSettingsTest, OptionsOverTheConfigFileOverTheDefaults) {
  TraceCapture trace;
  const FWDL_CFG saved = my_cfg;
  const std::string ini =
      "[settings]\r\ndlretry=7\r\ndlstartdelay=30\r\nsignature=ABC\r\ncomport=4\r\n";
  TempFile file(std::vector<uint8_t>(ini.begin(), ini.end()));
  CliOptions o;
  std::string error;
  ASSERT_TRUE(LoadCliSettings(o, &error)) << error;
  EXPECT_EQ(10, my_cfg.dlretry);
  EXPECT_STREQ("VRQ", my_cfg.signature);

  o.config = file.path();
  o.dlstartdelay = {true, 60};
  o.writecmd = {true, "vpdwrite 0x%x"};
  o.eventchar = {true, 1};
  ASSERT_TRUE(LoadCliSettings(o, &error)) << error;
  EXPECT_EQ(1u, my_cfg.eventchar);
  EXPECT_EQ(7, my_cfg.dlretry);
  EXPECT_EQ(60, my_cfg.dlstartdelay);
  EXPECT_STREQ("ABC", my_cfg.signature);
  EXPECT_STREQ("vpdwrite 0x%x\n", my_cfg.writevpd);
  EXPECT_EQ("4", ConfigPortText());
  // Nothing is written back.
  const std::vector<uint8_t> after = file.Read();
  EXPECT_EQ(ini, std::string(after.begin(), after.end()));

  o.config = std::string(file.path()) + ".missing";
  EXPECT_FALSE(LoadCliSettings(o, &error));
  EXPECT_NE(std::string::npos, error.find("cannot read the settings file"));
  my_cfg = saved;
}

// Without --file the settings' file key is the image file, unless it was
// too long to be a path: then the path-limit text, never the cut name.
TEST(CliSettingsTest, AFileKeyTooLongIsRefusedNotCut) {
  TraceCapture trace;
  const FWDL_CFG saved = my_cfg;
  struct Case {
    size_t length;
    const char* option;  // --file
    bool ok;
  } cases[] = {
      {259, "", true},
      {260, "", false},
      {5000, "", false},
      {260, "given.bin", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.length) + " " + c.option);
    const std::string name(c.length, 'f');
    const std::string ini = "[settings]\nfile=" + name + "\n";
    TempFile config(std::vector<uint8_t>(ini.begin(), ini.end()));
    CliOptions o;
    o.config = config.path();
    o.file = c.option;
    std::string error, file;
    ASSERT_TRUE(LoadCliSettings(o, &error)) << error;
    ASSERT_EQ(c.ok, PickImageFile(o, &file, &error));
    if (c.ok) {
      EXPECT_EQ(*c.option ? std::string(c.option) : name, file);
    } else {
      EXPECT_EQ(0u, error.find("Error, the path of the image file has more than the 259 bytes"))
          << error;
      EXPECT_NE(std::string::npos, error.find(config.path())) << error;
    }
  }
  my_cfg = saved;
}

TEST(CliSettingsTest, ChildrenGetTheSameSettingsAndTheirOwnPortAndLog) {
  CliOptions o;
  o.file = "fw image.bin";
  o.config = "site.ini";
  o.dlretry = {true, 3};
  o.signature = {true, "XYZ"};
  o.eventchar = {true, 1};
  const std::vector<std::string> want = {
      "download", "--port",  "COM7",        "--file",      "fw image.bin", "--json",   "--wait-go",
      "--config", "site.ini", "--log",      "trace.log.2", "--signature",  "XYZ",      "--dlretry",
      "3",        "--eventchar", "1"};
  EXPECT_EQ(want, ChildArguments(o, "COM7", "trace.log.2"));
  // Each child decides on its own port whether anything is sent.
  o.skipIfCurrent = true;
  o.sha256 = std::string(64, 'a');
  const std::vector<std::string> args = ChildArguments(o, "COM7", "");
  EXPECT_EQ(1, std::count(args.begin(), args.end(), "--skip-if-current"));
  const auto digest = std::find(args.begin(), args.end(), "--sha256");
  ASSERT_NE(args.end(), digest);
  EXPECT_EQ(o.sha256, *(digest + 1));
  // A plan's children ask their port at once: no waiting for the others' go.
  o.command = "plan";
  const std::vector<std::string> plan = ChildArguments(o, "COM7", "");
  EXPECT_EQ("plan", plan.front());
  EXPECT_EQ(0, std::count(plan.begin(), plan.end(), "--wait-go"));
}

// Plain output: one line per status change and per 10 %, nothing for the
// updates between; JSON: an event per status and per new percentage.
TEST(CliReportTest, PlainLinesPerTenPercentJsonPerPercent) {
  struct Style {
    OutputStyle style;
    std::vector<std::string> lines;
  } styles[] = {
      {OutputStyle::kPlain,
       {"Checking SAS Expander status, please wait...", "progress: 0% (10 of 1000 bytes, 1 s)",
        "progress: 10% (105 of 1000 bytes, 1 s)", "progress: 20% (200 of 1000 bytes, 2 s)",
        "progress: 100% (1000 of 1000 bytes, 3 s)", "Done. Power cycle."}},
      {OutputStyle::kQuiet, {"Done. Power cycle."}},
  };
  for (const Style& s : styles) {
    TempFile out;
    FILE* f = fopen(out.path(), "wb");
    ASSERT_NE(f, nullptr);
    {
      CliReport report(s.style, "COM3", f);
      report.ShowStatus("Checking SAS Expander status, please wait...");
      report.ShowStatus("");
      for (uint32_t sent : {10u, 50u, 105u, 150u, 200u}) {
        report.ShowProgress({sent, 1000, static_cast<int>(sent / 10), sent < 200 ? 1 : 2});
      }
      report.ShowProgress({1000, 1000, -1, 3});  // no new percentage: nothing
      report.ShowProgress({1000, 1000, 100, 3});
      // The dialog's result text is an event only; the result line says it once.
      report.StepsDone();
      report.ShowStatus("Done.\nPower cycle.");
      report.Result(0, "Done.\nPower cycle.");
    }
    fclose(f);
    const std::vector<uint8_t> bytes = out.Read();
    std::string text(bytes.begin(), bytes.end());
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
      const size_t end = text.find('\n', at);
      lines.push_back(text.substr(at, end - at));
      at = end + 1;
    }
    EXPECT_EQ(s.lines, lines);
  }
}

// The counters come as numbers from the core, never read back from the text.
TEST(CliReportTest, RetryStatsCarryTheCoreCounters) {
  TempFile out;
  FILE* f = fopen(out.path(), "wb");
  ASSERT_NE(f, nullptr);
  {
    CliReport report(OutputStyle::kJson, "COM3", f);
    report.ShowRetryStats("Wiederholungen: 4/5/6", RetryStats{4, 5, 6});
  }
  fclose(f);
  const std::vector<uint8_t> bytes = out.Read();
  const nlohmann::json e = nlohmann::json::parse(std::string(bytes.begin(), bytes.end()));
  EXPECT_EQ("retry_stats", e.value("event", ""));
  EXPECT_EQ(4, e.value("start_retries", -1));
  EXPECT_EQ(5, e.value("normal_retries", -1));
  EXPECT_EQ(6, e.value("subpacket_timeouts", -1));
}

TEST(CliSha256Test, KnownDigests) {
  const struct {
    std::string text;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      // 56 bytes: the length no longer fits the first block.
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.digest, Sha256Hex(reinterpret_cast<const uint8_t*>(c.text.data()), c.text.size()))
        << c.text.size() << " bytes";
  }
}

}  // namespace
