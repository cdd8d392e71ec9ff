#include "app/dialog_api.h"

#include <cstdio>

#include "tarnwick_version.h"

std::atomic<DialogView*> g_hDlg{nullptr};
const char g_szUtilVersion[16] = TARNWICK_UTIL_VERSION;

namespace {

std::atomic<AppMessageBoxFn> g_appMessageBox{nullptr};

class DialogReportImpl : public CoreReport {
 public:
  void ShowStatus(const char* text) override {
    if (DialogView* dlg = g_hDlg.load()) dlg->SetItemText(IDC_STATUS, text);
  }

  void ShowProgress(const ProgressReport& progress) override {
    DialogView* dlg = g_hDlg.load();
    if (!dlg) return;
    char text[260];
    if (progress.percent >= 0) {
      snprintf(text, sizeof text, "%d%% completed", progress.percent);
      dlg->SetItemText(IDC_PERCENT, text);
      dlg->SetProgressPos(progress.percent);
    }
    snprintf(text, sizeof text, "%d seconds elapsed", progress.elapsedSeconds);
    dlg->SetItemText(IDC_ELAPSED, text);
  }

  void ShowRetryStats(const char* text, const RetryStats&) override {
    if (DialogView* dlg = g_hDlg.load()) dlg->SetItemText(IDC_RETRY_STATS, text);
  }

  void EnableControls(bool enable) override {
    DialogView* dlg = g_hDlg.load();
    if (!dlg) return;
    dlg->EnableItem(IDC_BROWSE, enable);
    dlg->EnableItem(IDC_FILENAME, enable);
    dlg->EnableItem(IDC_START, enable);
  }

  int MessageBox(const char* text, const char* caption, unsigned type) override {
    AppMessageBoxFn fn = g_appMessageBox.load();
    if (fn) return fn(text, caption, type);
    return CoreReport::MessageBox(text, caption, type);
  }
};

}  // namespace

CoreReport& DialogReport() {
  static DialogReportImpl report;
  return report;
}

void SetAppMessageBox(AppMessageBoxFn fn) { g_appMessageBox.store(fn); }
