#include <gtest/gtest.h>

#include <string>

#include "app/dialog_api.h"
#include "image/fw_image.h"
#include "support/recording_view.h"
#include "support/trace_capture.h"
#include "support/virtual_clock.h"

namespace {

class ProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_dwBytesSent = 0;
    g_dwTotalFileSize = 1000;
    g_dlStartTime = clock_.clock().NowSeconds();
  }
  ScopedVirtualClock clock_;
  ScopedView view_;
};

TEST_F(ProgressTest, CreditsBytesAndClampsAtHundred) {
  UpdateProgress(250);
  EXPECT_EQ(view_.view().text(IDC_PERCENT), "25% completed");
  EXPECT_EQ(view_.view().progress(), 25);
  UpdateProgress(900);
  EXPECT_EQ(view_.view().text(IDC_PERCENT), "100% completed");
  EXPECT_EQ(view_.view().progress(), 100);
}

TEST_F(ProgressTest, ZeroBytesRefreshesOnlyElapsedSeconds) {
  clock_.clock().AdvanceMs(7000);
  UpdateProgress(0);
  EXPECT_EQ(view_.view().text(IDC_ELAPSED), "7 seconds elapsed");
  EXPECT_TRUE(view_.view().history(IDC_PERCENT).empty());
}

TEST_F(ProgressTest, NothingShownForZeroOfZero) {
  g_dwTotalFileSize = 0;
  UpdateProgress(0);
  EXPECT_TRUE(view_.view().history(IDC_PERCENT).empty());
  EXPECT_EQ(view_.view().text(IDC_ELAPSED), "0 seconds elapsed");
}

TEST(StatusTextTest, LongTextIsCutTo259Characters) {
  ScopedView view;
  std::string longName(400, 'x');
  SetStatusText("Downloading from file %s, please wait...", longName.c_str());
  EXPECT_EQ(view.view().text(IDC_STATUS).size(), 259u);
}

// Before the dialog exists (or once it is gone) the updates reach no view,
// and nothing is lost from the trace: the status line is still traced.
TEST(StatusTextTest, UpdatesWithoutDialogAreDropped) {
  ScopedView shown;
  TraceCapture trace;
  g_hDlg.store(nullptr);
  g_dwBytesSent = 0;
  g_dwTotalFileSize = 1000;
  SetStatusText("nobody sees this");
  UpdateProgress(10);
  EnableDlgControls(false);
  const RecordingView& view = shown.view();
  EXPECT_TRUE(view.history(IDC_STATUS).empty());
  EXPECT_TRUE(view.history(IDC_PERCENT).empty());
  EXPECT_EQ(view.progress(), 0);
  EXPECT_TRUE(view.enabled(IDC_START));
  EXPECT_TRUE(view.enabled(IDC_BROWSE));
  EXPECT_TRUE(trace.Has("status: nobody sees this\n"));
}

}  // namespace
