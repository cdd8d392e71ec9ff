#include "download/download.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "app/dialog_api.h"
#include "config/settings.h"
#include "console/version.h"
#include "platform/tempfile.h"
#include "support/download_peer.h"
#include "support/recording_view.h"
#include "support/scripted_expander.h"
#include "support/temp_dir.h"
#include "support/trace_capture.h"

namespace {

const std::string kChecking = "Checking SAS Expander status, please wait...";
const std::string kFirmware = "Downloading firmware image, please wait...";
const std::string kRebooting = "Now rebooting SAS Expander, this will take a while, please wait...";
const std::string kBootloader =
    "Downloading bootloader image, do not power cycle the SAS Expander, please wait...";
const std::string kRetrying = "Retrying firmware download, please wait...";

bool FileExists(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f) fclose(f);
  return f != nullptr;
}

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    snprintf(my_cfg.signature, sizeof my_cfg.signature, "VRQ");
    my_cfg.dlstartdelay = 45;
    my_cfg.dlnormaldelay = 15;
    my_cfg.dlretry = 3;
    my_cfg.fwattempts = 3;
    ResetDownloadState();
    g_bStopDl = 0;
    g_start_ver = {7, 7, 7, 7};
    path_ = temp_ / "fw.bin";
  }

  void TearDown() override {
    g_bStopDl = 0;
    EXPECT_EQ(g_bBootLoaderInProgress.load(), 0u);
    // No temporary image file outlives its download.
    for (const std::string& line : trace_.lines()) {
      if (line.rfind("tmpfile=", 0) == 0) {
        std::string tmp = line.substr(8);
        EXPECT_FALSE(FileExists(tmp)) << tmp;
        EXPECT_NE(tmp.find("fwd"), std::string::npos) << tmp;
      }
    }
  }

  // Writes an image file of images with `parts` (in file order) and a
  // version record, remembering each image's bytes by part.
  void WriteImageFile(const std::vector<uint8_t>& parts,
                      const std::string& record = MakeVersionRecord(0, 2, 0, 1)) {
    std::string file;
    uint32_t body = 600;
    for (uint8_t part : parts) {
      std::string img = MakeImage(part, body, static_cast<uint8_t>(part + body));
      image_[part] = img;
      file += img;
      body -= 170;
    }
    file += record;
    FILE* f = fopen(path_.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(fwrite(file.data(), 1, file.size(), f), file.size());
    fclose(f);
  }

  bool Run() {
    record_ = DownloadImageFile(path_.c_str());
    return record_.ok;
  }
  DownloadRecord record_{};

  std::vector<std::string> statuses() { return view_.view().history(IDC_STATUS); }
  int CountStatus(const std::string& text) {
    int n = 0;
    for (const auto& s : statuses()) n += (s == text);
    return n;
  }
  // The parts of the received images, in order, checking each one's bytes.
  std::vector<uint8_t> Received() {
    std::vector<uint8_t> parts;
    for (const auto& img : peer_.images()) {
      uint8_t part = static_cast<uint8_t>(img.bytes.size() > 10 ? img.bytes[10] : 0);
      EXPECT_EQ(img.bytes, image_[part]) << "part " << int(part);
      EXPECT_TRUE(img.contiguous);
      EXPECT_EQ(img.bootloaderFlag, part == 0xFF);
      parts.push_back(part);
    }
    return parts;
  }

  ScriptedPort port_;
  DownloadPeer peer_{port_.exp()};
  TraceCapture trace_;
  ScopedView view_;
  TempDir temp_{"tarnwick-download"};
  std::string path_;
  std::map<uint8_t, std::string> image_;
};

struct NormalCase {
  const char* name;
  std::vector<uint8_t> inFile;
  std::vector<uint8_t> sent;
};

class NormalPathTest : public DownloadTest, public ::testing::WithParamInterface<NormalCase> {};

TEST_P(NormalPathTest, AllImagesInOneSequence) {
  WriteImageFile(GetParam().inFile);
  EXPECT_TRUE(Run());
  EXPECT_EQ(Received(), GetParam().sent);
  EXPECT_EQ(peer_.enters(), 1);
  EXPECT_EQ(peer_.terminators(), 1);
  EXPECT_EQ(peer_.rebootCommands(), 0);
  EXPECT_TRUE(trace_.Has("fmdl_download: normal path"));
  EXPECT_EQ(statuses(), (std::vector<std::string>{kChecking, ""}));
}

INSTANTIATE_TEST_SUITE_P(
    Files, NormalPathTest,
    ::testing::Values(NormalCase{"FirmwareOnly", {0x06}, {0x06}},
                      NormalCase{"FirmwareAndOther", {0x06, 0x01}, {0x06, 0x01}},
                      NormalCase{"BootloaderOnly", {0xFF}, {0xFF}},
                      NormalCase{"BootloaderAndOtherNoFirmware", {0xFF, 0x01}, {0x01, 0xFF}}),
    [](const ::testing::TestParamInfo<NormalCase>& info) { return info.param.name; });

TEST_F(DownloadTest, RebootPathSendsBootloaderAfterTheVersionChanged) {
  WriteImageFile({0x06, 0x01, 0xFF});
  peer_.versions = {"0.01.0000.05", "0.02.0000.01"};
  EXPECT_TRUE(Run());
  EXPECT_EQ(Received(), (std::vector<uint8_t>{0x06, 0x01, 0xFF}));
  EXPECT_EQ(peer_.enters(), 2);
  EXPECT_EQ(peer_.terminators(), 2);
  EXPECT_EQ(peer_.rebootCommands(), 3);
  EXPECT_EQ(statuses(), (std::vector<std::string>{kChecking, "", kFirmware, kRebooting, "",
                                                  kBootloader}));
  EXPECT_TRUE(trace_.Has("fmdl_download: with rebooting"));
  EXPECT_TRUE(trace_.Has("CheckFirmwareVer=0.2.0.1"));
  // The running version was read afresh before the download.
  EXPECT_EQ(g_start_ver.minor, 1u);
  EXPECT_EQ(g_start_ver.revision, 5u);
}

TEST_F(DownloadTest, UnchangedVersionSendsTheFirmwareAgain) {
  WriteImageFile({0x06, 0xFF});
  peer_.versions = {"0.01.0000.05", "0.01.0000.05", "0.01.0000.05", "0.02.0000.01"};
  EXPECT_TRUE(Run());
  EXPECT_EQ(Received(), (std::vector<uint8_t>{0x06, 0x06, 0x06, 0xFF}));
  EXPECT_EQ(CountStatus(kRetrying), 2);
  EXPECT_EQ(CountStatus(kFirmware), 1);
  EXPECT_EQ(CountStatus("Downloading firmware image(retry #1), please wait..."), 1);
  EXPECT_EQ(CountStatus("Downloading firmware image(retry #2), please wait..."), 1);
  EXPECT_EQ(CountStatus(kBootloader), 1);
  EXPECT_EQ(trace_.Count("CheckFirmwareVer: still previous version"), 2);
  EXPECT_EQ(peer_.rebootCommands(), 9);
}

// What the version after a reboot decides on the path with rebooting, and a
// version before the download that cannot be read. The file's version record
// is 0.2.0.1.
struct OutcomeCase {
  const char* name;
  std::vector<std::string> versions;  // per boot
  bool ok;
  std::vector<uint8_t> received;
  DownloadFailure failure;
};

class OutcomeTest : public DownloadTest, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(OutcomeTest, VersionDecidesTheBootloader) {
  const OutcomeCase& c = GetParam();
  WriteImageFile({0x06, 0xFF});
  peer_.versions = c.versions;
  const FW_VERSION before = g_start_ver;
  EXPECT_EQ(Run(), c.ok);
  EXPECT_EQ(Received(), c.received);
  EXPECT_EQ(record_.cause, c.failure);
  if (c.failure == DownloadFailure::kNoVersion) {
    // Nothing was written and the version before was left as it was.
    EXPECT_EQ(peer_.enters(), 0);
    EXPECT_EQ(g_start_ver.major, before.major);
    EXPECT_EQ(g_start_ver.minor, before.minor);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Versions, OutcomeTest,
    ::testing::Values(
        OutcomeCase{"FileVersionAlreadyRuns", {"0.02.0000.01"}, true, {0x06, 0xFF},
                    DownloadFailure::kNone},
        OutcomeCase{"NeverChangesWithinTheAttempts", {"0.01.0000.05"}, false, {0x06, 0x06, 0x06},
                    DownloadFailure::kNotConfirmed},
        OutcomeCase{"NoVersionBeforeTheDownload", {"(version unavailable, console busy)"}, false,
                    {}, DownloadFailure::kNoVersion}),
    [](const ::testing::TestParamInfo<OutcomeCase>& info) { return info.param.name; });

TEST_F(DownloadTest, SilentConsoleAtTheStartFailsWithoutTouchingTheFile) {
  WriteImageFile({0x06});
  peer_.silentFromBoot = 0;
  EXPECT_FALSE(Run());
  EXPECT_EQ(peer_.queries(), 0);
  EXPECT_FALSE(trace_.Contains("fw header info"));
  EXPECT_EQ(statuses(), (std::vector<std::string>{kChecking, ""}));
}

TEST_F(DownloadTest, FileWithoutImagesFailsBeforeDownloadMode) {
  FILE* f = fopen(path_.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fputs("this is not an image file at all", f);
  fclose(f);
  EXPECT_FALSE(Run());
  EXPECT_TRUE(trace_.Has("numimages == 0"));
  EXPECT_EQ(peer_.enters(), 0);
}

TEST_F(DownloadTest, ExpanderThatDoesNotComeBackFails) {
  WriteImageFile({0x06, 0xFF});
  peer_.silentFromBoot = 1;
  EXPECT_FALSE(Run());
  EXPECT_EQ(Received(), (std::vector<uint8_t>{0x06}));
  EXPECT_EQ(peer_.queries(), 1);  // only the one before the download
  EXPECT_EQ(peer_.enters(), 1);
}

TEST_F(DownloadTest, NoVersionReplyAfterRebootIsAskedThreeMoreTimesThenFails) {
  WriteImageFile({0x06, 0xFF});
  peer_.versions = {"0.01.0000.05", "0.02.0000.01"};
  peer_.muteBoot = 1;
  peer_.muteQueries = 1000;
  EXPECT_FALSE(Run());
  // Four queries of four lines each (the query and its three repeats).
  EXPECT_EQ(peer_.queries(), 1 + 4 * 4);
  EXPECT_EQ(trace_.Count("CheckFirmwareVer: no reply after reboot\n"), 1);
  EXPECT_EQ(Received(), (std::vector<uint8_t>{0x06}));
  EXPECT_EQ(peer_.enters(), 1);
}

TEST_F(DownloadTest, ReplyWithoutVersionAfterRebootNeverSendsTheBootloader) {
  WriteImageFile({0x06, 0xFF});
  peer_.versions = {"0.01.0000.05", "(version unavailable, console busy)"};
  EXPECT_FALSE(Run());
  EXPECT_EQ(peer_.queries(), 1 + 4);
  EXPECT_EQ(trace_.Count("CheckFirmwareVer: no reply after reboot\n"), 1);
  EXPECT_EQ(Received(), (std::vector<uint8_t>{0x06}));
}

TEST_F(DownloadTest, VersionReplyToALaterQueryAfterRebootCounts) {
  WriteImageFile({0x06, 0xFF});
  peer_.versions = {"0.01.0000.05", "0.02.0000.01"};
  peer_.muteBoot = 1;
  peer_.muteQueries = 5;  // the whole first query and one line of the second
  EXPECT_TRUE(Run());
  EXPECT_TRUE(trace_.Has("CheckFirmwareVer: no reply, asking again(#1)\n"));
  EXPECT_EQ(Received(), (std::vector<uint8_t>{0x06, 0xFF}));
}

// A rejected bootloader is its own failure on either path: on the normal
// path too it must never be followed by power-cycle advice.
TEST_F(DownloadTest, FailedBootloaderIsItsOwnFailureOnBothPaths) {
  struct Case {
    std::vector<uint8_t> parts;
    int rejectedImage;  // index of the bootloader among the images sent
    int terminators;
  };
  for (const Case& c : {Case{{0x06, 0xFF}, 1, 2}, Case{{0x01, 0xFF}, 1, 1}, Case{{0xFF}, 0, 1}}) {
    SCOPED_TRACE(c.parts.size() == 1 ? "bootloader only" : c.parts[0] == 0x06 ? "rebooting"
                                                                                : "normal");
    ScriptedPort port;
    DownloadPeer peer{port.exp()};
    port_.exp().Close();
    WriteImageFile(c.parts);
    peer.versions = {"0.01.0000.05", "0.02.0000.01"};
    const int rejected = c.rejectedImage;
    peer.statusFor = [rejected](int index) { return index == rejected ? '5' : '0'; };
    EXPECT_FALSE(Run());
    EXPECT_EQ(record_.cause, DownloadFailure::kBootloader);
    EXPECT_EQ(peer.recoveries(), my_cfg.dlretry);
    // The sequence is still closed with a terminating header.
    EXPECT_EQ(peer.terminators(), c.terminators);
  }
}

TEST_F(DownloadTest, FailedFirmwareEndsTheSequenceWithoutReboot) {
  WriteImageFile({0x06, 0xFF});
  peer_.statusFor = [](int) { return '7'; };
  EXPECT_FALSE(Run());
  EXPECT_EQ(peer_.terminators(), 1);
  EXPECT_EQ(peer_.rebootCommands(), 0);
  EXPECT_TRUE(trace_.Contains("fmdl_downloadimages: image #0"));
}

// A stop request (Stop or a confirmed Quit) in any phase ends in failure,
// also when it comes after the last packet was accepted. `close` also closes
// the port under the download, as Quit does after its pause.
struct StopCase {
  const char* name;
  const char* event;
  int nth;  // which occurrence of the event (1-based)
  bool close;
  int enters;
  int rebootCommands;
  DownloadFailure failure;
};

class StopTest : public DownloadTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StopTest, StopNeverEndsInSuccess) {
  const StopCase& c = GetParam();
  WriteImageFile({0x06, 0xFF});
  peer_.versions = {"0.01.0000.05", "0.02.0000.01"};
  int seen = 0;
  peer_.onEvent = [&](const std::string& event, int index) {
    if (event != c.event) return;
    // Packet events count images, not packets: stop at the first packet of image nth-1.
    if (event == "packet" ? index == c.nth - 1 && seen++ == 0 : ++seen == c.nth) {
      g_bStopDl = 1;
      if (c.close) port_.exp().Close();
    }
  };
  EXPECT_FALSE(Run());
  EXPECT_EQ(peer_.enters(), c.enters);
  EXPECT_EQ(peer_.rebootCommands(), c.rebootCommands);
  EXPECT_EQ(record_.cause, c.failure);
  EXPECT_EQ(NothingWritten(c.failure), c.enters == 0);
}

INSTANTIATE_TEST_SUITE_P(
    Phases, StopTest,
    ::testing::Values(
        StopCase{"ConsoleCheck", "prompt", 1, false, 0, 0, DownloadFailure::kStoppedBeforeWrite},
        StopCase{"VersionQuery", "query", 1, false, 0, 0, DownloadFailure::kStoppedBeforeWrite},
        StopCase{"FirmwarePacket", "packet", 1, false, 1, 0, DownloadFailure::kFailed},
        StopCase{"FirmwareTerminator", "terminator", 1, false, 1, 0, DownloadFailure::kFailed},
        StopCase{"Reboot", "reboot", 1, false, 1, 3, DownloadFailure::kFailed},
        StopCase{"VersionAfterReboot", "query", 2, false, 1, 3, DownloadFailure::kFailed},
        // Only a unit test gets a stop through: every front end refuses it here.
        StopCase{"BootloaderPacket", "packet", 2, false, 2, 3, DownloadFailure::kBootloader},
        StopCase{"LastTerminator", "terminator", 2, false, 2, 3, DownloadFailure::kFailed},
        StopCase{"QuitDuringFirmware", "packet", 1, true, 1, 0, DownloadFailure::kFailed},
        StopCase{"QuitDuringReboot", "reboot", 1, true, 1, 1, DownloadFailure::kFailed},
        StopCase{"QuitDuringBootloader", "packet", 2, true, 2, 3, DownloadFailure::kBootloader}),
    [](const ::testing::TestParamInfo<StopCase>& info) { return info.param.name; });

// The cable comes out in each phase: the download ends at once as lost,
// sends nothing more and (TearDown) leaves no temporary file, while every
// wait of a silent expander runs its full time (the tests above).
struct LostCase {
  const char* name;
  const char* event;
  int nth;  // which occurrence of the event (1-based); packets count images
  DownloadFailure failure;
  int enters;
  int terminators;
  std::vector<uint8_t> parts = {0x06, 0xFF};
};

class LostTest : public DownloadTest, public ::testing::WithParamInterface<LostCase> {};

TEST_P(LostTest, LostPortEndsTheDownloadAtOnce) {
  const LostCase& c = GetParam();
  WriteImageFile(c.parts);
  peer_.versions = {"0.01.0000.05", "0.02.0000.01"};
  int seen = 0;
  int64_t lostAtMs = -1;
  size_t writesBefore = 0;
  peer_.onEvent = [&](const std::string& event, int index) {
    if (event != c.event || lostAtMs >= 0) return;
    if (event == "packet" ? index == c.nth - 1 : ++seen == c.nth) {
      port_.exp().Vanish();
      lostAtMs = port_.clock().NowMs();
      writesBefore = port_.exp().writes().size();
    }
  };
  EXPECT_FALSE(Run());
  ASSERT_GE(lostAtMs, 0);
  EXPECT_EQ(record_.cause, c.failure);
  EXPECT_LT(port_.clock().NowMs() - lostAtMs, 2000);
  EXPECT_EQ(port_.exp().writes().size(), writesBefore);
  EXPECT_EQ(peer_.enters(), c.enters);
  EXPECT_EQ(peer_.terminators(), c.terminators);
  EXPECT_EQ(peer_.recoveries(), 0);
  EXPECT_TRUE(trace_.Has("fmdl_download: the serial port was lost\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Phases, LostTest,
    ::testing::Values(
        LostCase{"ConsoleCheck", "prompt", 1, DownloadFailure::kPortLostBeforeWrite, 0, 0},
        LostCase{"VersionBefore", "query", 1, DownloadFailure::kPortLostBeforeWrite, 0, 0},
        LostCase{"FirmwarePacket", "packet", 1, DownloadFailure::kPortLost, 1, 0},
        LostCase{"Reboot", "reboot", 1, DownloadFailure::kPortLost, 1, 1},
        LostCase{"VersionAfterReboot", "query", 2, DownloadFailure::kPortLost, 1, 1},
        LostCase{"BootloaderPacket", "packet", 2, DownloadFailure::kPortLostInBootloader, 2, 1},
        // Every image accepted, the port gone while download mode is left.
        LostCase{"LastTerminator", "terminator", 2, DownloadFailure::kPortLostAtEnd, 2, 2},
        LostCase{"NormalPathBootloader", "packet", 2, DownloadFailure::kPortLostInBootloader, 1,
                 0, {0x01, 0xFF}},
        LostCase{"NormalPathTerminator", "terminator", 1, DownloadFailure::kPortLostAtEnd, 1, 1,
                 {0x01, 0xFF}}),
    [](const ::testing::TestParamInfo<LostCase>& info) { return info.param.name; });

TEST_F(DownloadTest, PortClosedWithoutStopFails) {
  WriteImageFile({0x06, 0xFF});
  peer_.versions = {"0.01.0000.05", "0.02.0000.01"};
  peer_.onEvent = [this](const std::string& event, int index) {
    if (event == "packet" && index == 1) port_.exp().Close();
  };
  EXPECT_FALSE(Run());
}

}  // namespace
