// Start-up and shutdown steps shared by both front ends. Each front end calls
// them in this order around its own window and dialog handling.
#pragma once

class DialogView;

// Loads the settings and writes them back at once; traces the version line.
void StartupLoadSettings();
// Opens the port named by the settings and checks the running firmware.
// On failure shows the start-up "Error" box (AppMessageBox), closes the port
// where it was opened, and returns false: the program then ends with code 0.
bool StartupOpenDevice();
// On Start: a port that was lost (or could not be opened again on an earlier
// Start) is closed and opened afresh with the settings of start-up. True
// when the port is usable; otherwise the status line says so, the dialog
// shows the start-up box for a port that cannot be opened, and false.
// Only while no download runs.
bool ReopenLostPort(DialogView* dlg);
// After the dialog: saves the settings and closes the port.
void ShutdownSaveAndClose();
