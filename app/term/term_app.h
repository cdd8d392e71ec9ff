// The terminal front end's UI loop: owns the terminal (ncurses), waits on
// the keyboard, the view's wake-up pipe and the signals in one poll, and
// runs the dialog, its message boxes and its file chooser. UI thread only.
#pragma once
#include <string>
#include <vector>

#include "app/term/chooser.h"
#include "app/term/keys.h"
#include "app/term/message_box.h"
#include "app/term/term_view.h"

class TermApp : public ModalHost {
 public:
  explicit TermApp(TermView* view);
  ~TermApp() override;

  // Takes over the terminal (idempotent). False if it cannot be set up, e.g.
  // an unknown TERM; the caller then falls back to plain text.
  bool Start();
  // Gives the terminal back (idempotent).
  void Stop();

  // Runs the main dialog: DlgOnInit, then keys and posts until the dialog
  // has ended (or the terminal has gone and no download runs any more).
  void RunDialog();

  int RunMessageBox(const char* text, const char* caption, unsigned type) override;
  bool RunChooser(char* path, size_t size) override;

 private:
  struct Overlay {
    MessageBoxModel* box = nullptr;
    ChooserModel* chooser = nullptr;
  };
  // Handles events until `done` says so; each key goes to `onKey`.
  template <class Done, class OnKey>
  void Loop(Done done, OnKey onKey);
  // Waits for one round of events and turns them into keys_ / state.
  void WaitEvents();
  void HandleSignals();
  void Redraw();

  TermView* view_;
  bool started_ = false;
  bool utf8_ = false;
  bool gone_ = false;        // the terminal hung up
  bool dialogShown_ = false;
  bool dirty_ = true;
  KeyDecoder decoder_;
  std::vector<Key> keys_;    // decoded, not yet handled
  std::vector<Overlay> overlays_;
};
