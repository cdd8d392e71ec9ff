// Start-up and shutdown steps shared by both front ends. Each front end calls
// them in this order around its own window and dialog handling.
#pragma once

// Loads the settings and writes them back at once; traces the version line.
void StartupLoadSettings();
// Opens the port named by the settings and checks the running firmware.
// On failure shows the start-up "Error" box (AppMessageBox), closes the port
// where it was opened, and returns false: the program then ends with code 0.
bool StartupOpenDevice();
// After the dialog: saves the settings and closes the port.
void ShutdownSaveAndClose();
