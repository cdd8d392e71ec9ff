// The settings record and the settings file "fwdl.ini" beside the executable,
// section [settings].
#pragma once
#include <cstddef>
#include <cstdint>

struct FWDL_CFG {
  char file[260];          // image file last used; trimmed
  char signature[260];     // image header signature; default "VRQ"; trimmed
  uint32_t comport;        // 1 = COM1; 0 becomes 1
  uint32_t linewaittime;   // ms, at most 1000; traced only
  uint32_t charwaittime;   // ms, at most 200; traced only
  char writevpd[520];      // key `writecmd`; trimmed, "\n" appended; traced only
  int32_t dlstartdelay;    // seconds: status wait of a packet at offset 0; default 45
  int32_t dlnormaldelay;   // seconds: every other status wait and each "*"; default 15
  int32_t dlretry;         // attempts per packet; default 10
  int32_t fwattempts;      // firmware downloads before a reboot must show the new version; default 3, at least 1
  char device[260];        // key `device`: a console server's port (socket://, tcp://, rfc2217://)
                           // that replaces COM<n>; on Linux also a device path; "" = none
  uint32_t eventchar;      // 1: the adapter sends what it holds as soon as a "*" arrives; default 0
  bool fileTooLong;        // key `file` held more than 259 characters: `file` is "", never a cut
                           // path, and a save leaves the key as it stands while `file` stays ""
};

extern FWDL_CFG my_cfg;

// Fills every field; never fails (defaults where the file is silent). A
// `file` value too long for the field is not cut but refused: see fileTooLong.
void LoadSettings(FWDL_CFG* cfg);
// Writes `file` and `comport` (not `file` while a refused long value stands
// in for an empty one); true if the last write succeeded.
bool SaveSettings(const FWDL_CFG* cfg);
// The settings file's full path: executable's folder + "fwdl.ini", cut to fit.
// A path longer than 259 characters is shown cut, but never read or written.
void GetSettingsPath(char* out, size_t size);
// Tests point the settings file elsewhere; nullptr restores the path above.
void SetSettingsPathOverride(const char* path);
