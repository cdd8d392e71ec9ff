// The terminal dialog as DialogView. The UI thread owns the terminal; every
// other thread only changes the state model under its lock and wakes the UI
// thread through a pipe, which the UI loop polls together with the keyboard.
// Nothing here draws: the UI loop snapshots the state and draws it.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "app/dialog_api.h"
#include "app/term/dialog_state.h"

// The modal parts of the dialog, run by the UI loop on the UI thread.
class ModalHost {
 public:
  virtual ~ModalHost() = default;
  // Shows a message box and takes the keyboard until it is answered.
  virtual int RunMessageBox(const char* text, const char* caption, unsigned type) = 0;
  // Shows the file chooser; true with the full path in `path` when a file was
  // chosen, false when cancelled (`path` untouched).
  virtual bool RunChooser(char* path, size_t size) = 0;
};

class TermView : public DialogView {
 public:
  // The thread that constructs the view is its UI thread.
  TermView();
  ~TermView() override;
  TermView(const TermView&) = delete;
  TermView& operator=(const TermView&) = delete;

  // False if the wake-up pipe could not be made.
  bool ok() const { return wakeRead_ >= 0; }
  void SetHost(ModalHost* host);

  // DialogView, callable from any thread; updates are dropped after EndDialog.
  void SetTitle(const char* text) override;
  void SetItemText(int id, const char* text) override;
  void GetItemText(int id, char* buf, size_t size) override;
  void SetProgressPos(int pos) override;
  void EnableItem(int id, bool enable) override;
  int MessageBox(const char* text, const char* caption, unsigned type) override;
  bool ChooseFile(char* path, size_t size) override;
  void EndDialog(int result) override;
  void BroadcastQuit() override;

  // A message box from any thread. On the UI thread it runs at once. From
  // another thread it is handed to the UI loop and the caller waits for the
  // answer; while no loop serves (before the dialog, after it ended) the
  // answer is MessageBoxModel::DefaultAnswer at once.
  int RequestMessageBox(const char* text, const char* caption, unsigned type);

  // UI thread side.
  int wakeFd() const { return wakeRead_; }
  // Empties the wake-up pipe.
  void DrainWake();
  // Runs `f` on the state with the lock held. `f` must not call back into
  // the view.
  template <class F>
  void Edit(F&& f) {
    std::lock_guard<std::mutex> lock(mu_);
    f(state_);
  }
  DialogState Snapshot() const;
  bool ended() const;
  int endResult() const;
  // While serving, box requests of other threads queue for the UI loop;
  // turning it off answers the waiting ones with their default.
  void SetServing(bool serving);
  // Runs the queued box requests through the host, oldest first.
  void ServeBoxRequests();
  bool OnUiThread() const { return std::this_thread::get_id() == uiThread_; }

 private:
  struct BoxRequest {
    std::string text;
    std::string caption;
    unsigned type = kMbOk;
    int answer = 0;
    bool done = false;
  };
  void Wake();
  // Answers every queued request with its default; lock held.
  void AbandonBoxRequestsLocked();

  mutable std::mutex mu_;
  std::condition_variable boxAnswered_;
  std::deque<BoxRequest*> boxes_;
  bool serving_ = false;
  DialogState state_;
  bool ended_ = false;
  int endResult_ = 0;
  ModalHost* host_ = nullptr;
  std::thread::id uiThread_;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
};
