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
  // Catches the signals the loop handles (idempotent; Start does it too).
  // Called before the port is opened, so that a SIGTERM, SIGQUIT, SIGHUP or
  // SIGINT during the start-up check waits for the loop instead of ending
  // the process with the port's adapter settings changed. False if the
  // signal pipe cannot be made.
  static bool CatchSignals();

  // Runs the main dialog: DlgOnInit, then keys and posts until the dialog
  // has ended, or until the terminal has gone or SIGTERM or SIGQUIT came and
  // no download runs any more (a running one is stopped as a confirmed Quit
  // would stop it; a bootloader being written is let finish).
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
  bool ending_ = false;      // SIGTERM or SIGQUIT: end once no download runs
  bool dialogShown_ = false;
  bool dirty_ = true;
  KeyDecoder decoder_;
  std::vector<Key> keys_;    // decoded, not yet handled
  std::vector<Overlay> overlays_;
};
