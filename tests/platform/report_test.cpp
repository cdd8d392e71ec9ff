#include "platform/report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/recording_report.h"
#include "support/trace_capture.h"
#include "support/virtual_clock.h"

namespace {

// What a front end without a dialog receives: numbers, not control texts.
TEST(ReportTest, ProgressArrivesAsNumbers) {
  ScopedVirtualClock clock;
  RecordingReport report;
  g_dwTotalFileSize = 1000;
  ResetProgress();
  UpdateProgress(250);
  clock.clock().AdvanceMs(3000);
  UpdateProgress(0);
  UpdateProgress(900);

  std::vector<ProgressReport> p = report.progress();
  ASSERT_EQ(p.size(), 3u);
  EXPECT_EQ(p[0].bytesSent, 250u);
  EXPECT_EQ(p[0].totalBytes, 1000u);
  EXPECT_EQ(p[0].percent, 25);
  EXPECT_EQ(p[0].elapsedSeconds, 0);
  EXPECT_EQ(p[1].percent, -1);  // nothing credited: only the seconds move
  EXPECT_EQ(p[1].elapsedSeconds, 3);
  EXPECT_EQ(p[2].bytesSent, 1150u);
  EXPECT_EQ(p[2].percent, 100);  // more than the file is shown as 100 %
}

TEST(ReportTest, FacadeReachesTheInstalledReport) {
  RecordingReport report;
  SetStatusText("Checking %s status, please wait...", g_szDeviceName);
  EnableDlgControls(false);
  ShowRetryStats("Retry Stats: (1, 2, 3)");
  EXPECT_EQ(AppMessageBox("Unable to allocate memory to read file!", "Error", kMbOk), kIdOk);
  EXPECT_EQ(report.statuses(),
            std::vector<std::string>{"Checking SAS Expander status, please wait..."});
  EXPECT_EQ(report.controls(), std::vector<std::string>{"disable"});
  EXPECT_EQ(report.retryStats(), std::vector<std::string>{"Retry Stats: (1, 2, 3)"});
  EXPECT_EQ(report.boxes(),
            std::vector<std::string>{"Error: Unable to allocate memory to read file!"});
}

// With no front end installed nothing is shown, and a box only reaches the
// trace with the answer that stops whatever asked.
// The default report shows nothing; status texts and boxes still reach the trace.
TEST(ReportTest, DefaultReportShowsNothingAndTracesBoxes) {
  SetReport(nullptr);
  TraceCapture trace;
  SetStatusText("nobody sees this");
  UpdateProgress(0);
  EnableDlgControls(true);
  EXPECT_EQ(trace.lines(), (std::vector<std::string>{"status: nobody sees this\n"}));
  trace.Clear();
  EXPECT_EQ(AppMessageBox("text", "Error", kMbOk), kIdOk);
  EXPECT_EQ(AppMessageBox("Quit?", "Warning", kMbYesNo), kIdNo);
  EXPECT_EQ(trace.lines(), (std::vector<std::string>{"Error: text\n", "Warning: Quit?\n"}));
}

}  // namespace
