#include "app/dialog_cmds.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/worker.h"
#include "config/settings.h"
#include "console/version.h"
#include "image/fw_image.h"
#include "platform/thread.h"
#include "platform/trace.h"
#include "serial/serial_port.h"
#include "support/recording_view.h"
#include "support/scripted_expander.h"
#include "support/temp_dir.h"
#include "support/temp_file.h"
#include "support/trace_capture.h"

namespace fs = std::filesystem;

namespace {

const char kQuitDownloadText[] =
    "A download is running: quitting stops it, and the expander will have to be power cycled "
    "before the next try.\n\nAre you sure you want to quit?";
constexpr unsigned kNoDefault = kMbYesNo | kMbDefButton2;

// A recording view that notes the state of the program at the moment the
// dialog is ended, and can start a bootloader download while a question box
// is open (the worker runs on while the user reads it).
class QuitView : public RecordingView {
 public:
  int MessageBox(const char* text, const char* caption, unsigned type) override {
    if (IsYesNoBox(type) && bootloaderDuringQuestion) g_bBootLoaderInProgress = 1;
    return RecordingView::MessageBox(text, caption, type);
  }
  void EndDialog(int result) override {
    stopAtEnd = g_bStopDl.load();
    portOpenAtEnd = is_open();
    RecordingView::EndDialog(result);
  }
  bool bootloaderDuringQuestion = false;
  uint32_t stopAtEnd = 0;
  bool portOpenAtEnd = false;
};

class DialogCmdsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    memset(&my_cfg, 0, sizeof my_cfg);
    strcpy(my_cfg.signature, "VRQ");
    my_cfg.comport = 1;
    g_start_ver = {1, 2, 3, 4};
    g_bStopDl = 0;
    g_bBootLoaderInProgress = 0;
    g_dlStartTime = 0;
    // A worker counts as running, so an accepted Start never starts a real one.
    g_bThreadRunning = 1;
    dir_ = temp_.path();
    SetReport(&DialogReport());
    DlgOnInit(&view_);
    trace_.Clear();
  }

  void TearDown() override {
    SetReport(nullptr);
    g_hDlg.store(nullptr);
    g_bThreadRunning = 0;
    g_bBootLoaderInProgress = 0;
    g_bStopDl = 0;
  }

  std::string MakeFile(const std::string& name, const std::string& content) {
    std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  // An image file of one empty image: its 28-byte header begins with `head`.
  std::string MakeImage(const std::string& name, const std::string& head = "VRQ") {
    std::string bytes = head;
    bytes.resize(28, '\0');
    return MakeFile(name, bytes);
  }

  int64_t NowMs() { return port_.clock().NowMs(); }

  ScriptedPort port_;
  TraceCapture trace_;
  QuitView view_;
  TempDir temp_{"tarnwick-dlg"};
  fs::path dir_;
};

TEST_F(DialogCmdsTest, InitShowsTitleFileAndDetectedVersion) {
  memset(&my_cfg.file, 0, sizeof my_cfg.file);
  strcpy(my_cfg.file, "C:\\fw\\last.bin");
  g_start_ver = {2, 1, 17, 3};
  QuitView view;
  DlgOnInit(&view);
  EXPECT_EQ(g_hDlg.load(), &view);
  EXPECT_EQ(view.title(), " SAS Expander Firmware Download Utility v1.02.0001.78");
  EXPECT_EQ(view.text(IDC_FILENAME), "C:\\fw\\last.bin");
  EXPECT_EQ(view.text(IDC_STATUS), "Firmware v2.01.0017.03 detected!");
  EXPECT_FALSE(view.enabled(IDC_STOP_DL));
}

// Both dialogs start from the settings file: a file key too long for a path
// leaves the file box empty and the status line says why; the line stays in
// the file for the user to mend.
TEST_F(DialogCmdsTest, InitRefusesAFileKeyTooLongForAPath) {
  const std::string fits = "C:\\fw\\" + std::string(249, 'f') + ".bin";
  const std::string tooLong = "C:\\fw\\" + std::string(250, 'f') + ".bin";
  struct Case {
    std::string value;
    std::string box;
    std::string status;
  } cases[] = {
      {fits, fits, "Firmware v1.02.0003.04 detected!"},
      {tooLong, "",
       "Firmware v1.02.0003.04 detected! Error, the path of the image file has more than the "
       "259 bytes this utility can use (a letter outside ASCII can take more than one)! Move "
       "the file to a shorter path."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value.size());
    const std::string ini = "[settings]\nfile=" + c.value + "\ncomport=1\n";
    TempFile settings(std::vector<uint8_t>(ini.begin(), ini.end()));
    SetSettingsPathOverride(settings.path());
    LoadSettings(&my_cfg);
    QuitView view;
    DlgOnInit(&view);
    EXPECT_EQ(view.text(IDC_FILENAME), c.box);
    EXPECT_EQ(view.text(IDC_STATUS), c.status);
    // What start-up and Quit write back.
    EXPECT_TRUE(SaveSettings(&my_cfg));
    const std::vector<uint8_t> after = settings.Read();
    EXPECT_NE(std::string(after.begin(), after.end()).find("file=" + c.value), std::string::npos);
    SetSettingsPathOverride(nullptr);
  }
}

TEST_F(DialogCmdsTest, UnknownCommandsAndDialogKeysDoNothing) {
  for (int id : {1, 2, 0, IDC_FILENAME, IDC_PROGRESS, IDC_STATUS, 0xFFFF}) {
    SCOPED_TRACE(id);
    EXPECT_FALSE(DlgOnCommand(id));
  }
  EXPECT_TRUE(view_.boxes().empty());
  EXPECT_EQ(view_.endResult(), -1);
  EXPECT_EQ(view_.history(IDC_STATUS).size(), 1u);  // only the detected-version text
  EXPECT_TRUE(trace_.lines().empty());
}

// A refused file, by Start (typed into the file box) or by Browse (chosen):
// the reason in the status line with the bare file name, progress bar and
// percentage reset, the elapsed text and the stop flag left alone.
struct Refusal {
  const char* label;
  int command;
  enum {
    kEmpty, kMissing, kDirectory, kWrongKind, kBinaryStart, kNoBytes, kShort, kTruncated, kTooMany,
    kTooLong
  } what;
  const char* expected;  // %s = the file-name part
  const char* reason = "";  // follows `expected`; @ = the whole path
};

class RefusedFileTest : public DialogCmdsTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusedFileTest, ShowsReasonAndResetsPercentOnly) {
  const Refusal& r = GetParam();
  std::string path;
  std::string name;
  switch (r.what) {
    case Refusal::kEmpty:
      break;
    case Refusal::kMissing:
      path = (dir_ / "absent.bin").string();
      name = "absent.bin";
      break;
    case Refusal::kDirectory:
      fs::create_directories(dir_ / "images.bin");
      path = (dir_ / "images.bin").string();
      name = "images.bin";
      break;
    case Refusal::kWrongKind:
      path = MakeFile("notes.bin", "XYZ not an image");
      name = "notes.bin";
      break;
    case Refusal::kBinaryStart:
      path = MakeFile("prog.bin", std::string("\x7f\"L\0rest", 7));
      name = "prog.bin";
      break;
    case Refusal::kNoBytes:
      path = MakeFile("empty.bin", "");
      name = "empty.bin";
      break;
    case Refusal::kShort:
      path = MakeFile("vr.bin", "VR");
      name = "vr.bin";
      break;
    case Refusal::kTruncated:
      path = MakeFile("cut.bin", "VRQ: the header ends before its length");
      name = "cut.bin";
      break;
    case Refusal::kTooMany: {
      std::string images;
      for (int i = 0; i < 17; ++i) images += std::string("VRQ") + std::string(25, '\0');
      path = MakeFile("many.bin", images);
      name = "many.bin";
      break;
    }
    case Refusal::kTooLong: {
      // Its first 259 characters name another image, which must not be taken.
      const std::string cut = (dir_ / "").string();
      path = cut + std::string(259 - cut.size(), 'o') + ".bin";
      MakeImage(path.substr(cut.size(), 259 - cut.size()));
      break;
    }
  }
  view_.SetProgressPos(40);
  view_.SetItemText(IDC_PERCENT, "40% completed");
  view_.SetItemText(IDC_ELAPSED, "9 seconds elapsed");
  g_bStopDl = 1;
  if (r.command == IDC_BROWSE) {
    view_.NextChoice(path);
  } else {
    view_.SetItemText(IDC_FILENAME, path.c_str());
  }

  EXPECT_FALSE(DlgOnCommand(r.command));

  char format[300];
  snprintf(format, sizeof format, r.expected, name.c_str());
  std::string expected = format;
  for (const char* c = r.reason; *c; ++c) expected += *c == '@' ? path : std::string(1, *c);
  EXPECT_EQ(view_.text(IDC_STATUS), expected);
  EXPECT_EQ(std::string(my_cfg.file), r.what == Refusal::kTooLong ? "" : path);
  EXPECT_EQ(view_.text(IDC_FILENAME), path);
  EXPECT_EQ(view_.progress(), 0);
  EXPECT_EQ(view_.text(IDC_PERCENT), "");
  EXPECT_EQ(view_.text(IDC_ELAPSED), "9 seconds elapsed");
  EXPECT_EQ(g_bStopDl.load(), 1u);
  EXPECT_EQ(g_dlStartTime.load(), 0);
  EXPECT_TRUE(view_.boxes().empty());
  // The trace names the whole path and why it was refused.
  EXPECT_TRUE(trace_.Has("Image file refused: " + path + ": " + expected + "\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Files, RefusedFileTest,
    ::testing::Values(
        Refusal{"StartEmpty", IDC_START, Refusal::kEmpty, "Error, file %s doesn't exist!"},
        Refusal{"StartMissing", IDC_START, Refusal::kMissing, "Error, file %s doesn't exist!"},
        Refusal{"StartDirectory", IDC_START, Refusal::kDirectory,
                "Error, %s is not a valid firmware image!", " @ is a folder."},
        Refusal{"StartWrongKind", IDC_START, Refusal::kWrongKind,
                "Error, %s is not a valid firmware image!",
                " It begins with \"XYZ\", not with the signature \"VRQ\" that begins every image "
                "file."},
        Refusal{"BrowseDirectory", IDC_BROWSE, Refusal::kDirectory,
                "Error, %s is not a valid firmware image!", " @ is a folder."},
        Refusal{"BrowseWrongKind", IDC_BROWSE, Refusal::kWrongKind,
                "Error, %s is not a valid firmware image!",
                " It begins with \"XYZ\", not with the signature \"VRQ\" that begins every image "
                "file."},
        Refusal{"StartBinaryStart", IDC_START, Refusal::kBinaryStart,
                "Error, %s is not a valid firmware image!",
                " It begins with \"\\x7F\\x22L\", not with the signature \"VRQ\" that begins every "
                "image file."},
        Refusal{"StartNoBytes", IDC_START, Refusal::kNoBytes,
                "Error, %s is not a valid firmware image!", " The file is empty."},
        Refusal{"BrowseShort", IDC_BROWSE, Refusal::kShort,
                "Error, %s is not a valid firmware image!",
                " It holds 2 bytes, fewer than the signature \"VRQ\" that begins every image file."},
        // Refused at once, as the command line refuses them, rather than after
        // the console check with a power-cycle text although nothing was written.
        Refusal{"StartTruncated", IDC_START, Refusal::kTruncated,
                "Error, %s is not a valid firmware image: the image at offset 0 runs past the end "
                "of the file!"},
        Refusal{"BrowseTooManyImages", IDC_BROWSE, Refusal::kTooMany,
                "Error, %s holds 17 images, more than the 16 this utility can download!"},
        Refusal{"StartPathTooLong", IDC_START, Refusal::kTooLong,
                "Error, the path of the image file has 263 bytes, more than the 259 bytes this "
                "utility can use (a letter outside ASCII can take more than one)! Move the file "
                "to a shorter path.%s"},
        Refusal{"BrowsePathTooLong", IDC_BROWSE, Refusal::kTooLong,
                "Error, the path of the image file has 263 bytes, more than the 259 bytes this "
                "utility can use (a letter outside ASCII can take more than one)! Move the file "
                "to a shorter path.%s"}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.label); });

TEST_F(DialogCmdsTest, StartWithImageResetsDisplayAndClearsStop) {
  std::string path = MakeImage("good.bin", "vrq image body");  // signature in any letter case
  view_.SetItemText(IDC_FILENAME, path.c_str());
  view_.SetProgressPos(70);
  view_.SetItemText(IDC_PERCENT, "70% completed");
  view_.SetItemText(IDC_ELAPSED, "12 seconds elapsed");
  g_bStopDl = 1;

  EXPECT_FALSE(DlgOnCommand(IDC_START));

  EXPECT_EQ(std::string(my_cfg.file), path);
  EXPECT_EQ(view_.text(IDC_STATUS), "Downloading from file " + path + ", please wait...");
  EXPECT_EQ(g_dlStartTime.load(), port_.clock().NowSeconds());
  EXPECT_EQ(view_.progress(), 0);
  EXPECT_EQ(view_.text(IDC_PERCENT), "");
  EXPECT_EQ(view_.text(IDC_ELAPSED), "");
  EXPECT_EQ(g_bStopDl.load(), 0u);
  // The worker that was already running stays the only one.
  EXPECT_EQ(g_bThreadRunning.load(), 1u);
  EXPECT_FALSE(trace_.Contains("StartTestThread"));
  EXPECT_TRUE(trace_.Has("Image file for the download: " + path + "\n"));
}

// Start hands the accepted file to a real worker; against a console that
// never answers, the download fails and the dialog is usable again.
TEST_F(DialogCmdsTest, StartRunsTheWorkerToItsEnd) {
  std::string path = MakeImage("fw.bin");
  view_.SetItemText(IDC_FILENAME, path.c_str());
  g_bThreadRunning = 0;

  DlgOnCommand(IDC_START);

  // The worker's waits run on the virtual clock; this only waits for the thread.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (g_bThreadRunning.load() != 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_EQ(g_bThreadRunning.load(), 0u) << "worker still running";
  while (!trace_.Has("HandleCmds ended") && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_TRUE(trace_.Has("HandleCmds ended"));
  EXPECT_EQ(trace_.Count("HandleCmds started"), 1);
  EXPECT_EQ(view_.text(IDC_STATUS),
            "Firmware download failed, the SAS Expander did not answer and nothing was written. "
            "Check the cable and the power, then click the start button to try again!");
  EXPECT_TRUE(view_.enabled(IDC_START));
  EXPECT_TRUE(view_.enabled(IDC_BROWSE));
  EXPECT_TRUE(view_.enabled(IDC_FILENAME));
  EXPECT_FALSE(view_.enabled(IDC_STOP_DL));
  EXPECT_EQ(g_bStopDl.load(), 0u);
}

// Start after the cable came out: the lost port is opened again with the
// settings of start-up; one that cannot be opened gets the start-up text and
// starts nothing, and the next Start tries again.
int g_workersStarted = 0;
bool CountingStarter(ThreadRoutine, uint32_t) {
  ++g_workersStarted;
  return true;
}

TEST_F(DialogCmdsTest, StartReopensALostPort) {
  std::string path = MakeImage("fw.bin");
  g_bThreadRunning = 0;
  g_workersStarted = 0;
  SetThreadStarter(&CountingStarter);
  struct Step {
    const char* name;
    bool vanish;
    bool openWorks;
    int opens;    // opens of the device so far (start-up counts one)
    int workers;  // workers started so far
    const char* status;
  } steps[] = {
      {"PortPresent", false, true, 1, 1, nullptr},
      {"LostAndAdapterMissing", true, false, 2, 1, "Unable to open COM 1!"},
      {"AdapterStillMissing", false, false, 3, 1, "Unable to open COM 1!"},
      {"AdapterBack", false, true, 4, 2, nullptr},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    if (s.vanish) port_.exp().Vanish();
    port_.exp().SetOpenResult(s.openWorks);
    view_.SetItemText(IDC_FILENAME, path.c_str());
    const size_t boxes = view_.boxes().size();
    g_bThreadRunning = 0;
    DlgOnCommand(IDC_START);
    EXPECT_EQ(port_.exp().opens(), s.opens);
    EXPECT_EQ(g_workersStarted, s.workers);
    EXPECT_FALSE(IsComLost());
    if (s.status == nullptr) {
      EXPECT_TRUE(is_open());
      EXPECT_EQ(view_.text(IDC_STATUS), "Downloading from file " + path + ", please wait...");
      EXPECT_EQ(view_.boxes().size(), boxes);
    } else {
      EXPECT_FALSE(is_open());
      EXPECT_EQ(view_.text(IDC_STATUS), s.status);
      ASSERT_EQ(view_.boxes().size(), boxes + 1);
      EXPECT_EQ(view_.boxes().back().caption, "Error");
      EXPECT_EQ(view_.boxes().back().text.rfind(
                    "Unable to open COM 1!\n\nCheck if another application is using COM 1\nOr\n", 0),
                0u);
    }
  }
  EXPECT_EQ(trace_.Count("Start: the serial port was lost, opening COM 1 again\n"), 3);
  EXPECT_EQ(trace_.Count("Start: COM 1 open again\n"), 1);
  SetThreadStarter(nullptr);
}

TEST_F(DialogCmdsTest, LongTextsAreCutNeverOverrun) {
  const std::string longName(250, 'n');
  view_.SetItemText(IDC_FILENAME, longName.c_str());
  DlgOnCommand(IDC_START);
  EXPECT_EQ(view_.text(IDC_STATUS), ("Error, file " + longName).substr(0, 259));

  // An accepted image whose path makes the downloading text too long.
  // The path is 240 characters long, whatever the temporary folder is called.
  std::string path = MakeImage(std::string(240 - dir_.string().size() - 5, 'i') + ".bin");
  ASSERT_GT(path.size(), 221u);  // the text would need more than 259 characters
  view_.SetItemText(IDC_FILENAME, path.c_str());
  DlgOnCommand(IDC_START);
  EXPECT_EQ(view_.text(IDC_STATUS), ("Downloading from file " + path + ", please wait...").substr(0, 259));
}

TEST_F(DialogCmdsTest, BrowseCancelledChangesNothing) {
  strcpy(my_cfg.file, "kept.bin");
  view_.SetItemText(IDC_FILENAME, "kept.bin");
  view_.SetItemText(IDC_STATUS, "previous status");
  view_.CancelNextChoice();
  EXPECT_FALSE(DlgOnCommand(IDC_BROWSE));
  EXPECT_STREQ(my_cfg.file, "kept.bin");
  EXPECT_EQ(view_.text(IDC_FILENAME), "kept.bin");
  EXPECT_EQ(view_.text(IDC_STATUS), "previous status");
}

TEST_F(DialogCmdsTest, BrowseToImageClearsStatusButNotElapsed) {
  std::string path = MakeImage("fw.bin");
  view_.SetItemText(IDC_STATUS, "Firmware download failed, ...");
  view_.SetItemText(IDC_PERCENT, "100% completed");
  view_.SetProgressPos(100);
  view_.SetItemText(IDC_ELAPSED, "31 seconds elapsed");
  view_.NextChoice(path);

  EXPECT_FALSE(DlgOnCommand(IDC_BROWSE));

  EXPECT_EQ(std::string(my_cfg.file), path);
  EXPECT_EQ(view_.text(IDC_FILENAME), path);
  EXPECT_EQ(view_.text(IDC_STATUS), "");
  EXPECT_EQ(view_.text(IDC_PERCENT), "");
  EXPECT_EQ(view_.progress(), 0);
  EXPECT_EQ(view_.text(IDC_ELAPSED), "31 seconds elapsed");
  EXPECT_FALSE(trace_.Contains("StartTestThread"));
}

TEST_F(DialogCmdsTest, QuitConfirmedStopsWaitsEndsClosesAndBroadcasts) {
  dwTestPoint = 12;
  dwcomtestpoint = 4;
  g_bThreadRunning = 0;  // idle: the plain question, Yes its default
  view_.AnswerNextBox(kIdYes);
  int64_t before = NowMs();

  EXPECT_TRUE(DlgOnCommand(ID_QUIT));

  ASSERT_EQ(view_.boxes().size(), 1u);
  EXPECT_EQ(view_.boxes()[0].text, "Are you sure you want to quit?");
  EXPECT_EQ(view_.boxes()[0].caption, "Warning");
  EXPECT_EQ(view_.boxes()[0].type, static_cast<unsigned>(kMbYesNo));
  EXPECT_FALSE(DlgQuitStoppedDownload());
  EXPECT_TRUE(trace_.Has("ID_QUIT: v1.1"));
  EXPECT_TRUE(trace_.Has(" dwTestPoint=12"));
  EXPECT_TRUE(trace_.Has(" dwcomtestpoint=4"));
  // The stop request is up before the dialog ends; the port closes after.
  EXPECT_EQ(view_.stopAtEnd, 1u);
  EXPECT_TRUE(view_.portOpenAtEnd);
  EXPECT_EQ(NowMs() - before, 350);
  EXPECT_EQ(view_.endResult(), 1);
  EXPECT_FALSE(is_open());
  EXPECT_EQ(view_.quitBroadcasts(), 1);
  dwTestPoint = 0;
  dwcomtestpoint = 0;
}

// A No to Quit or to the close box: the dialog and a running download go on.
TEST_F(DialogCmdsTest, QuestionAnsweredNoChangesNothing) {
  int64_t before = NowMs();
  view_.AnswerNextBox(kIdNo);
  EXPECT_FALSE(DlgOnCommand(ID_QUIT));
  view_.AnswerNextBox(kIdNo);
  EXPECT_TRUE(DlgOnClose());
  EXPECT_EQ(view_.boxes().size(), 2u);
  EXPECT_EQ(g_bStopDl.load(), 0u);
  EXPECT_EQ(NowMs(), before);
  EXPECT_EQ(view_.endResult(), -1);
  EXPECT_TRUE(is_open());
  EXPECT_EQ(view_.quitBroadcasts(), 0);
}

// A hang-up, SIGTERM or SIGQUIT, polled by the terminal dialog until the
// download ends: a firmware image is stopped as Quit stops it; a bootloader
// found under way is let finish, and so is everything after it, so that a
// finished download is never called stopped. Each step: the worker's flags,
// then whether the stop request is up.
TEST_F(DialogCmdsTest, LostUserStopsFirmwareButLetsABootloaderFinish) {
  struct Step {
    uint32_t running, bootloader;
    uint32_t stop;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    bool stoppedDownload;  // the front end says on leaving that it stopped one
  } cases[] = {
      // The record of a stopped download stays once set: the cases that set
      // it come last.
      {"no download", {{0, 0, 0}}, false},
      {"during the bootloader, and after it", {{1, 1, 0}, {1, 1, 0}, {1, 0, 0}, {0, 0, 0}}, false},
      {"during the firmware", {{1, 0, 1}, {1, 0, 1}}, true},
      {"a bootloader, then the next download's firmware", {{1, 1, 0}, {0, 0, 0}, {1, 0, 1}}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_bStopDl = 0;
    g_bThreadRunning = 0;
    DlgOnLostUser();  // no download: forgets a bootloader an earlier case saw
    for (const Step& step : c.steps) {
      g_bThreadRunning = step.running;
      g_bBootLoaderInProgress = step.bootloader;
      DlgOnLostUser();
      EXPECT_EQ(g_bStopDl.load(), step.stop);
    }
    EXPECT_EQ(DlgQuitStoppedDownload(), c.stoppedDownload);
  }
}

// A confirmed close box ends a running download as Quit does: the stop
// request, the pause for the transfer loop, then the port closes.
TEST_F(DialogCmdsTest, CloseBoxConfirmedEndsAsQuitDoes) {
  view_.AnswerNextBox(kIdYes);
  int64_t before = NowMs();
  EXPECT_TRUE(DlgOnClose());
  ASSERT_EQ(view_.boxes().size(), 1u);
  EXPECT_EQ(view_.boxes()[0].text, kQuitDownloadText);
  EXPECT_EQ(view_.boxes()[0].type, kNoDefault);
  EXPECT_TRUE(DlgQuitStoppedDownload());
  EXPECT_EQ(view_.endResult(), 1);
  EXPECT_EQ(view_.quitBroadcasts(), 1);
  EXPECT_EQ(g_bStopDl.load(), 1u);
  EXPECT_EQ(NowMs(), before + 350);
  EXPECT_FALSE(is_open());
}

// While the bootloader image is written, Quit, the close box and Stop are
// refused with a warning, and the dialog and the download go on.
TEST_F(DialogCmdsTest, BootloaderDownloadRefusesQuitCloseAndStop) {
  g_bBootLoaderInProgress = 1;
  EXPECT_FALSE(DlgOnCommand(ID_QUIT));
  EXPECT_TRUE(DlgOnClose());
  EXPECT_FALSE(DlgOnCommand(IDC_STOP_DL));
  ASSERT_EQ(view_.boxes().size(), 3u);
  for (const auto& box : view_.boxes()) {
    EXPECT_EQ(box.text, "Unable to quit, bootloader image download is in progress!");
    EXPECT_EQ(box.caption, "Warning");
    EXPECT_EQ(box.type, static_cast<unsigned>(kMbOk));
  }
  EXPECT_EQ(view_.endResult(), -1);
  EXPECT_EQ(view_.quitBroadcasts(), 0);
  EXPECT_EQ(g_bStopDl.load(), 0u);
  EXPECT_TRUE(is_open());
  EXPECT_FALSE(trace_.Has("ID_QUIT: v1.1"));
}

// The question is modal; a bootloader that starts while it is open must not
// be cut off by the Yes that follows.
TEST_F(DialogCmdsTest, BootloaderStartedDuringQuestionRefusesTheYes) {
  view_.bootloaderDuringQuestion = true;
  view_.AnswerNextBox(kIdYes);
  EXPECT_FALSE(DlgOnCommand(ID_QUIT));
  view_.AnswerNextBox(kIdYes);
  g_bBootLoaderInProgress = 0;
  EXPECT_TRUE(DlgOnClose());
  view_.AnswerNextBox(kIdYes);
  g_bBootLoaderInProgress = 0;
  EXPECT_FALSE(DlgOnCommand(IDC_STOP_DL));

  auto boxes = view_.boxes();
  ASSERT_EQ(boxes.size(), 6u);
  for (size_t i : {1u, 3u, 5u})
    EXPECT_EQ(boxes[i].text, "Unable to quit, bootloader image download is in progress!");
  EXPECT_EQ(view_.endResult(), -1);
  EXPECT_EQ(g_bStopDl.load(), 0u);
  EXPECT_TRUE(is_open());
}

// Stop asks first, with No as the default: a No, or a download that ended
// while the question was open, changes nothing.
TEST_F(DialogCmdsTest, StopAnsweredNoOrTooLateDoesNothing) {
  view_.EnableItem(IDC_STOP_DL, true);
  view_.AnswerNextBox(kIdNo);
  EXPECT_FALSE(DlgOnCommand(IDC_STOP_DL));
  g_bThreadRunning = 0;
  view_.AnswerNextBox(kIdYes);
  EXPECT_FALSE(DlgOnCommand(IDC_STOP_DL));
  ASSERT_EQ(view_.boxes().size(), 2u);
  for (const auto& box : view_.boxes()) {
    EXPECT_EQ(box.text,
              "Stop the download? The expander will have to be power cycled before the next try.");
    EXPECT_EQ(box.caption, "Warning");
    EXPECT_EQ(box.type, kNoDefault);
  }
  EXPECT_EQ(g_bStopDl.load(), 0u);
  EXPECT_TRUE(view_.enabled(IDC_STOP_DL));
  EXPECT_FALSE(trace_.Has("IDC_STOP_DL clicked"));
}

TEST_F(DialogCmdsTest, StopConfirmedRequestsStopAndDisablesItself) {
  view_.EnableItem(IDC_STOP_DL, true);
  view_.AnswerNextBox(kIdYes);
  EXPECT_FALSE(DlgOnCommand(IDC_STOP_DL));
  EXPECT_TRUE(trace_.Has("IDC_STOP_DL clicked"));
  EXPECT_TRUE(trace_.Contains(" dwTestPoint="));
  EXPECT_EQ(g_bStopDl.load(), 1u);
  EXPECT_FALSE(view_.enabled(IDC_STOP_DL));
  EXPECT_EQ(view_.boxes().size(), 1u);
  EXPECT_EQ(view_.endResult(), -1);
  EXPECT_TRUE(is_open());
}

}  // namespace
