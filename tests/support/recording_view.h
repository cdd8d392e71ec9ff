// A dialog view for tests: remembers every control's text, enabled state and
// the progress position, records message boxes and answers them from a script.
#pragma once
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/dialog_api.h"

class RecordingView : public DialogView {
 public:
  struct Box {
    std::string text;
    std::string caption;
    unsigned type;
  };

  void SetTitle(const char* text) override;
  void SetItemText(int id, const char* text) override;
  void GetItemText(int id, char* buf, size_t size) override;
  void SetProgressPos(int pos) override;
  void EnableItem(int id, bool enable) override;
  int MessageBox(const char* text, const char* caption, unsigned type) override;
  bool ChooseFile(char* path, size_t size) override;
  void EndDialog(int result) override;
  void BroadcastQuit() override;

  // Test side.
  std::string title() const;
  std::string text(int id) const;
  // Every text control `id` was given, in order.
  std::vector<std::string> history(int id) const;
  bool enabled(int id) const;  // controls start enabled
  int progress() const;
  std::vector<Box> boxes() const;
  void AnswerNextBox(int answer);          // default kIdOk / kIdNo
  void NextChoice(const std::string& path);  // ChooseFile returns it once
  void CancelNextChoice();
  int endResult() const { return endResult_; }
  int quitBroadcasts() const { return quits_; }

 private:
  mutable std::mutex mu_;
  std::string title_;
  std::map<int, std::string> texts_;
  std::map<int, std::vector<std::string>> history_;
  std::map<int, bool> enabled_;
  int progress_ = 0;
  std::vector<Box> boxes_;
  std::deque<int> answers_;
  std::deque<std::pair<bool, std::string>> choices_;
  int endResult_ = -1;
  int quits_ = 0;
};

// Installs a RecordingView as g_hDlg, and the dialogs' report that draws on
// it, for the lifetime of the object.
class ScopedView {
 public:
  ScopedView() {
    g_hDlg.store(&view_);
    SetReport(&DialogReport());
  }
  ~ScopedView() {
    SetReport(nullptr);
    g_hDlg.store(nullptr);
  }
  RecordingView& view() { return view_; }

 private:
  RecordingView view_;
};
