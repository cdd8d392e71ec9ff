// The firmware version query on the expander's console.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

struct FW_VERSION {
  uint32_t major;
  uint32_t minor;
  uint32_t build;
  uint32_t revision;
};

// The version found at start-up, refreshed at the start of each download.
extern FW_VERSION g_start_ver;

// The console line that asks the running version (sent with WriteCom and
// its kin, which add the line feeds).
extern const char kVersionQuery[];

// Asks the console for the running version, waiting `timeout` whole seconds
// (then up to three repeated queries). -1: no usable answer (version left
// unchanged), also at once once the port is lost; 0: no version found (version all zero) or older than
// 0.01.0000.05; 1: accepted, `ver` filled.
int32_t CheckFirmwareVer(FW_VERSION* ver, uint32_t timeout);
// CheckFirmwareVer, asked again while a reply holds no version: -1 (no
// usable answer) or a reply without any version text (result 0, all zero; a
// busy console) is no version, neither the running one nor one too old. Up to
// `extraQueries` more queries; before each, `askAgain(n, result)` (n = 1, 2,
// ...; result: the last query's, -1 or 0) may trace and returns false to stop
// asking (a stop request, or a caller that asks again only after a busy
// reply). Returns the last result, -1 for a reply without a version; `*out` is
// written only with a version actually read (0 with a version: too old; 1:
// accepted).
int32_t AskRunningVersion(FW_VERSION* out, uint32_t timeout, int extraQueries,
                          bool (*askAgain)(int n, int32_t result));
// Finds the first four-number version in `text` (changed in place: control
// bytes become ','), fills `ver`, and applies the minimum-version rule.
int32_t IsNeededVer(char* text, FW_VERSION* ver);
// The oldest firmware this utility can load, and the rule that says whether
// a version is usable (the build number takes no part in it).
extern const FW_VERSION kOldestUsableVersion;
bool IsUsableVersion(const FW_VERSION& ver);
// Whether two versions are the same, number by number.
bool SameVersion(const FW_VERSION& a, const FW_VERSION& b);
// Whether `a` comes before `b`: major, then minor, build and revision.
bool OlderVersion(const FW_VERSION& a, const FW_VERSION& b);
// The version's numbers as the console and the file write them
// ("1.02.0000.11", VersionNumbersText), and as the texts show a version
// ("v1.02.0000.11").
std::string VersionNumbers(const FW_VERSION& ver);
std::string VersionText(const FW_VERSION& ver);
