#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/term/message_box.h"
#include "app/term/term_view.h"

namespace {

TEST(MessageBoxTest, YesNoAnswersByLetterFocusAndEnter) {
  struct Case {
    std::vector<Key> keys;
    int answer;
    unsigned type = kMbYesNo;
  };
  const unsigned noDefault = kMbYesNo | kMbDefButton2;
  const Case cases[] = {
      {{Key::Text("y")}, kIdYes},
      {{Key::Text("N")}, kIdNo},
      {{Key::Alt('n')}, kIdNo},
      {{Key::Of(KeyCode::kEnter)}, kIdYes},  // Yes is the default button
      {{Key::Of(KeyCode::kTab), Key::Of(KeyCode::kEnter)}, kIdNo},
      {{Key::Of(KeyCode::kRight), Key::Of(KeyCode::kBackTab), Key::Text(" ")}, kIdYes},
      {{Key::Of(KeyCode::kEscape), Key::Ctrl('c'), Key::Text("x"), Key::Text("n")}, kIdNo},
      // With No as the default, a stray Enter or Space answers No.
      {{Key::Of(KeyCode::kEnter)}, kIdNo, noDefault},
      {{Key::Text(" ")}, kIdNo, noDefault},
      {{Key::Of(KeyCode::kLeft), Key::Of(KeyCode::kEnter)}, kIdYes, noDefault},
      {{Key::Text("y")}, kIdYes, noDefault},
  };
  for (const Case& c : cases) {
    MessageBoxModel box("Are you sure you want to quit?", "Warning", c.type);
    int answer = 0;
    for (const Key& k : c.keys) {
      ASSERT_EQ(answer, 0) << "answered before the last key";
      answer = box.HandleKey(k);
    }
    EXPECT_EQ(answer, c.answer);
  }
}

TEST(MessageBoxTest, OkBoxClosesOnEnterEscapeOrO) {
  for (const Key& k : {Key::Of(KeyCode::kEnter), Key::Of(KeyCode::kEscape), Key::Text("o")}) {
    MessageBoxModel box("Unable to quit, bootloader image download is in progress!", "Warning", kMbOk);
    EXPECT_EQ(box.HandleKey(Key::Text("y")), 0);
    EXPECT_EQ(box.HandleKey(k), kIdOk);
  }
}

// Stands in for the UI loop's boxes and chooser, recording what it was asked.
class FakeHost : public ModalHost {
 public:
  int RunMessageBox(const char* text, const char*, unsigned) override {
    texts.push_back(text);
    onUiThread = onUiThread && std::this_thread::get_id() == ui;
    return kIdYes;
  }
  bool RunChooser(char* path, size_t size) override {
    snprintf(path, size, "/chosen/fw.bin");
    return true;
  }
  std::thread::id ui = std::this_thread::get_id();
  std::vector<std::string> texts;
  bool onUiThread = true;
};

bool WaitReadable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, ms) == 1;
}

class TermViewTest : public ::testing::Test {
 protected:
  TermViewTest() { view_.SetHost(&host_); }
  TermView view_;
  FakeHost host_;
};

TEST_F(TermViewTest, WorkerUpdatesReachTheModelAndWakeTheUi) {
  ASSERT_TRUE(view_.ok());
  EXPECT_FALSE(WaitReadable(view_.wakeFd(), 0));
  std::thread worker([&] {
    for (int i = 1; i <= 50; ++i) {
      view_.SetProgressPos(i * 2);
      view_.SetItemText(IDC_PERCENT, (std::to_string(i * 2) + "% completed").c_str());
    }
    view_.EnableItem(IDC_START, false);
    view_.EnableItem(IDC_STOP_DL, true);
    view_.SetItemText(IDC_STATUS, "Firmware download finished successfully.");
  });
  worker.join();
  EXPECT_TRUE(WaitReadable(view_.wakeFd(), 1000));
  view_.DrainWake();
  EXPECT_FALSE(WaitReadable(view_.wakeFd(), 0));
  DialogState s = view_.Snapshot();
  EXPECT_EQ(s.progress, 100);
  EXPECT_EQ(s.Text(IDC_PERCENT), "100% completed");
  EXPECT_FALSE(s.IsEnabled(IDC_START));
  EXPECT_TRUE(s.IsEnabled(IDC_STOP_DL));
  EXPECT_EQ(s.Text(IDC_STATUS), "Firmware download finished successfully.");
}

TEST_F(TermViewTest, FileBoxTextRoundTripsAndIsCutToTheBuffer) {
  view_.SetItemText(IDC_FILENAME, "/tmp/fw.bin");
  char buf[8];
  view_.GetItemText(IDC_FILENAME, buf, sizeof buf);
  EXPECT_STREQ(buf, "/tmp/fw");
  view_.Edit([](DialogState& s) { s.file.Insert("2"); });
  char full[260];
  view_.GetItemText(IDC_FILENAME, full, sizeof full);
  EXPECT_STREQ(full, "/tmp/fw.bin2");
}

TEST_F(TermViewTest, UpdatesAfterEndDialogAreDropped) {
  view_.SetItemText(IDC_STATUS, "before");
  view_.EndDialog(1);
  EXPECT_TRUE(view_.ended());
  EXPECT_EQ(view_.endResult(), 1);
  view_.SetItemText(IDC_STATUS, "after");
  view_.SetProgressPos(50);
  view_.EnableItem(IDC_BROWSE, false);
  DialogState s = view_.Snapshot();
  EXPECT_EQ(s.Text(IDC_STATUS), "before");
  EXPECT_EQ(s.progress, 0);
  EXPECT_TRUE(s.IsEnabled(IDC_BROWSE));
}

TEST_F(TermViewTest, BoxesOfTheUiThreadRunAtOnce) {
  EXPECT_EQ(view_.MessageBox("Are you sure you want to quit?", "Warning", kMbYesNo), kIdYes);
  char path[260] = "unchanged";
  EXPECT_TRUE(view_.ChooseFile(path, sizeof path));
  EXPECT_STREQ(path, "/chosen/fw.bin");
}

TEST_F(TermViewTest, WorkerBoxWaitsForTheUiLoopToShowIt) {
  view_.SetServing(true);
  std::atomic<int> answer{0};
  std::thread worker([&] {
    answer = view_.RequestMessageBox("Unable to allocate memory to read file!", "Error", kMbOk);
  });
  // The UI loop: woken by the request, it runs the box on its own thread.
  while (host_.texts.empty()) {
    if (!WaitReadable(view_.wakeFd(), 5000)) break;
    view_.DrainWake();
    view_.ServeBoxRequests();
  }
  view_.SetServing(false);  // never leaves the worker waiting, even on failure
  worker.join();
  EXPECT_EQ(answer, kIdYes);  // what the fake host answered
  ASSERT_EQ(host_.texts.size(), 1u);
  EXPECT_EQ(host_.texts[0], "Unable to allocate memory to read file!");
  EXPECT_TRUE(host_.onUiThread);
}

TEST_F(TermViewTest, WorkerBoxGetsTheDefaultWhenNobodyServes) {
  int beforeLoop = 0;
  std::thread([&] { beforeLoop = view_.RequestMessageBox("q", "Warning", kMbYesNo); }).join();
  EXPECT_EQ(beforeLoop, kIdNo);

  // A request already waiting when the dialog ends is answered too.
  view_.SetServing(true);
  std::atomic<int> answer{0};
  std::thread worker([&] { answer = view_.RequestMessageBox("m", "Error", kMbOk); });
  bool woken = WaitReadable(view_.wakeFd(), 5000);
  view_.EndDialog(1);
  EXPECT_TRUE(woken);
  worker.join();
  EXPECT_EQ(answer, kIdOk);
  EXPECT_TRUE(host_.texts.empty());
}

TEST_F(TermViewTest, ChooserIsRefusedOffTheUiThread) {
  bool chosen = true;
  std::thread([&] {
    char path[260] = "";
    chosen = view_.ChooseFile(path, sizeof path);
  }).join();
  EXPECT_FALSE(chosen);
}

}  // namespace
