// Start-up and shutdown steps shared by both front ends. Each front end calls
// them in this order around its own window and dialog handling.
#pragma once
#include <cstdint>
#include <string>

class DialogView;
struct PortAddress;

// Loads the settings and writes them back at once, then starts the trace file
// fwdl.log beside the settings file with a marker line naming `program`, the
// version, the time, the port and the settings file; traces the version line.
void StartupLoadSettings(const char* program = "tarnwick");
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

// What opening the port and asking the running version found.
enum class DeviceCheck { kFound, kCannotOpen, kNotFound, kTooOld };
// The start-up check without its boxes, for a front end that reports in its
// own way: opens COM<port> (or the settings' device) and asks the running
// version into g_start_ver with the start-up wait. A reply that holds no
// version text at all is asked again (three more times) and then counts as
// not found, never as too old. The port stays open only for kFound.
DeviceCheck CheckDeviceAtStartup(int32_t port);
// The same for the port at `where`, made once by the caller.
DeviceCheck CheckDeviceAtStartup(const PortAddress& where);
// The start-up box's text for kNotFound (naming `portName`) and kTooOld, as
// the dialogs show it: a headline, an empty line, the sentence. "" otherwise.
std::string DeviceCheckText(DeviceCheck check, const char* portName);
