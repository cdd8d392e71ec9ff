// The main dialog's behaviour, shared by the Win32 dialog and the terminal
// dialog: each front end turns its own events into these calls and
// implements DialogView for the drawing.
#pragma once

#include "app/dialog_api.h"

// Dialog start: g_hDlg = dlg, caption, file box from my_cfg.file, the
// detected-version status text (with the path-limit text when the settings'
// file key was refused as too long), Stop disabled.
void DlgOnInit(DialogView* dlg);
// A command by control id (the low 16 bits of the Win32 command). Returns
// true only for a confirmed Quit; every other command returns false. Stop,
// and Quit while a download runs, ask first with No as the default answer.
bool DlgOnCommand(int id);
// The close box (Win32 WM_CLOSE, Ctrl+C on the terminal). Always handled;
// once confirmed it ends a running download as Quit does.
bool DlgOnClose();
// True once a confirmed Quit, the close box or DlgOnLostUser has stopped a
// running download: on leaving the front end says what the advice of that
// download's record says (LastWorkerAdvice).
bool DlgQuitStoppedDownload();
// The user is gone (the terminal hung up) or the program was told to end
// (SIGTERM, SIGQUIT): a running download is stopped as by a confirmed Quit,
// unless its bootloader is being written: that download is then let run to
// its end. Callable repeatedly from the dialog thread; never blocks.
void DlgOnLostUser();
