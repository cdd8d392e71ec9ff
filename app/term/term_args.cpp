#include "app/term/term_args.h"

#include <cstring>

#include "tarnwick_version.h"

TermArgs ParseTermArgs(int argc, const char* const* argv) {
  if (argc <= 1) return TermArgs::kRunDialog;
  if (argc > 2) return TermArgs::kBadArgument;
  if (strcmp(argv[1], "--version") == 0) return TermArgs::kVersion;
  if (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0) return TermArgs::kHelp;
  return TermArgs::kBadArgument;
}

const char* TermVersionLine() { return "tarnwick " TARNWICK_VERSION_TEXT; }

const char* TermUsage() {
  return "Usage: tarnwick [--version | --help]\n"
         "The firmware download dialog in the terminal. Without arguments it opens the serial\n"
         "port that fwdl.ini names (comport= or device=) and asks the expander for its\n"
         "firmware version; the settings file is fwdl.ini beside the program, or\n"
         "~/.config/tarnwick/fwdl.ini for an installed program. tarnwick-cli ports lists\n"
         "the serial ports.\n"
         "  --version  print the version and exit\n"
         "  --help     print this text and exit\n";
}
