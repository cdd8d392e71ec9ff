// The arguments of the terminal program. It runs the dialog without any;
// --version and --help answer without touching a port or a file.
#pragma once

enum class TermArgs {
  kRunDialog,   // no arguments
  kVersion,     // --version: print VersionLine() and end
  kHelp,        // --help or -h: print TermUsage() and end
  kBadArgument, // anything else: the usage on standard error, exit code 2
};

TermArgs ParseTermArgs(int argc, const char* const* argv);
// "tarnwick 1.02.0001.78 (1.2.1.78)".
const char* TermVersionLine();
const char* TermUsage();
