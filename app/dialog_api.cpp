#include "app/dialog_api.h"

#include <cstdarg>
#include <cstdio>

#include "image/fw_image.h"
#include "platform/clock.h"
#include "platform/trace.h"

std::atomic<DialogView*> g_hDlg{nullptr};
std::atomic<uint32_t> g_bStopDl{0};
std::atomic<uint32_t> g_dwBytesSent{0};
std::atomic<int64_t> g_dlStartTime{0};
const char g_szDeviceName[260] = "SAS Expander";
const char g_szUtilVersion[16] = "1.02.0001.78";

namespace {
std::atomic<AppMessageBoxFn> g_appMessageBox{nullptr};
}

void SetStatusText(const char* fmt, ...) {
  char text[260];
  va_list args;
  va_start(args, fmt);
  vsnprintf(text, sizeof text, fmt, args);
  va_end(args);
  if (DialogView* dlg = g_hDlg.load()) dlg->SetItemText(IDC_STATUS, text);
}

void UpdateProgress(uint32_t bytes) {
  uint32_t sent = (g_dwBytesSent += bytes);
  double percent = static_cast<double>(sent) * 100.0 / static_cast<double>(g_dwTotalFileSize);
  if (percent > 100.0) percent = 100.0;
  DialogView* dlg = g_hDlg.load();
  char text[260];
  // 0 of 0 gives NaN, which fails the comparison: nothing is shown then.
  if (percent <= 101.0 && bytes > 0) {
    snprintf(text, sizeof text, "%d%% completed", static_cast<int>(percent));
    if (dlg) {
      dlg->SetItemText(IDC_PERCENT, text);
      dlg->SetProgressPos(static_cast<int>(percent));
    }
  }
  snprintf(text, sizeof text, "%d seconds elapsed",
           static_cast<int>(NowSeconds() - g_dlStartTime.load()));
  if (dlg) dlg->SetItemText(IDC_ELAPSED, text);
}

void EnableDlgControls(bool enable) {
  DialogView* dlg = g_hDlg.load();
  if (!dlg) return;
  dlg->EnableItem(IDC_BROWSE, enable);
  dlg->EnableItem(IDC_FILENAME, enable);
  dlg->EnableItem(IDC_START, enable);
}

uint32_t IsDlStopped() { return g_bStopDl.load(); }

void SetAppMessageBox(AppMessageBoxFn fn) { g_appMessageBox.store(fn); }

int AppMessageBox(const char* text, const char* caption, unsigned type) {
  AppMessageBoxFn fn = g_appMessageBox.load();
  if (fn) return fn(text, caption, type);
  DbgTrace("%s: %s\n", caption, text);
  return type == kMbYesNo ? kIdNo : kIdOk;
}
