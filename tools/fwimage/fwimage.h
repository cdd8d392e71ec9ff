// fwimage: inspect and make firmware image files.
#pragma once

// Exit codes shared by the commands.
constexpr int kExitOk = 0;
constexpr int kExitRefused = 1;  // info: tarnwick would not download the file; make: write failed
constexpr int kExitUsage = 2;

// The full usage text of `fwimage --help`.
extern const char kFwimageUsage[];

// `fwimage info FILE [--signature SIG]`; argv[0] is "info", options already
// stripped of --verbose.
int RunInfo(int argc, char** argv);
// `fwimage make OUT ...`; argv[0] is "make".
int RunMake(int argc, char** argv);
