#include "platform/report.h"

#include <cstdarg>
#include <cstdio>

#include "platform/clock.h"
#include "platform/trace.h"

std::atomic<uint32_t> g_bStopDl{0};
std::atomic<uint32_t> g_dwBytesSent{0};
std::atomic<int64_t> g_dlStartTime{0};
uint32_t g_dwTotalFileSize = 0;
const char g_szDeviceName[260] = "SAS Expander";

void CoreReport::ShowStatus(const char*) {}
void CoreReport::ShowProgress(const ProgressReport&) {}
void CoreReport::ShowRetryStats(const char*, const RetryStats&) {}
void CoreReport::EnableControls(bool) {}

int CoreReport::MessageBox(const char* text, const char* caption, unsigned type) {
  DbgTrace("%s: %s\n", caption, text);
  return IsYesNoBox(type) ? kIdNo : kIdOk;
}

namespace {
CoreReport g_silentReport;
std::atomic<CoreReport*> g_report{nullptr};
}  // namespace

void SetReport(CoreReport* report) { g_report.store(report); }

CoreReport& GetReport() {
  CoreReport* report = g_report.load();
  return report ? *report : g_silentReport;
}

void SetStatusText(const char* fmt, ...) {
  char text[260];
  va_list args;
  va_start(args, fmt);
  vsnprintf(text, sizeof text, fmt, args);
  va_end(args);
  // The status line is what the user saw: the trace keeps it beside the detail.
  if (text[0] != '\0') DbgTrace("status: %s\n", text);
  GetReport().ShowStatus(text);
}

void UpdateProgress(uint32_t bytes) {
  uint32_t sent = (g_dwBytesSent += bytes);
  double percent = static_cast<double>(sent) * 100.0 / static_cast<double>(g_dwTotalFileSize);
  if (percent > 100.0) percent = 100.0;
  ProgressReport progress;
  progress.bytesSent = sent;
  progress.totalBytes = g_dwTotalFileSize;
  // 0 of 0 gives NaN, which fails the comparison: no percentage then.
  progress.percent = (percent <= 101.0 && bytes > 0) ? static_cast<int>(percent) : -1;
  progress.elapsedSeconds = static_cast<int>(NowSeconds() - g_dlStartTime.load());
  GetReport().ShowProgress(progress);
}

void ResetProgress() {
  g_dwBytesSent = 0;
  g_dlStartTime = NowSeconds();
}

void EnableDlgControls(bool enable) { GetReport().EnableControls(enable); }

void ShowRetryStats(const char* text, const RetryStats& stats) {
  GetReport().ShowRetryStats(text, stats);
}

uint32_t IsDlStopped() { return g_bStopDl.load(); }

int AppMessageBox(const char* text, const char* caption, unsigned type) {
  return GetReport().MessageBox(text, caption, type);
}
