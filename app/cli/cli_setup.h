// Steps every subcommand of tarnwick-cli shares: the settings, the trace,
// the image file check and the port.
#pragma once
#include <string>

#include "app/cli/cli_options.h"
#include "app/cli/ports.h"

// Fills my_cfg: defaults, or the --config file, then the options given. The
// settings file is never written. False with `error` for a config file that
// cannot be read. A hidden --sys-root also tells the port where to find the
// adapter's settings.
bool LoadCliSettings(const CliOptions& options, std::string* error);
// The trace goes to `path` (appended), or nowhere for "". False with `error`
// if the file cannot be opened.
bool OpenTrace(const std::string& path, std::string* error);
// The image file to use: --file, or without it the file key of the
// settings. False with `error` (the path-limit text) when that key was too
// long to be used.
bool PickImageFile(const CliOptions& options, std::string* file, std::string* error);
// The download's check of an image file, with the dialog's texts: missing,
// not an image file, or no image to download. True if the download may use it.
bool CheckImageFile(const std::string& path, std::string* error);
// With `expected` (hex, either case) given: whether the file's SHA-256 is
// it; false with `error` naming both digests, or a file that cannot be read.
// True for "".
bool CheckFileDigest(const std::string& path, const std::string& expected, std::string* error);
// The port to use: --port, or without it the port of the --config file.
// Parsed once and resolved; the port's address is in `port`, and nothing of
// it goes into my_cfg. False with `error` (ending with kPortsPointer) and
// the exit code in `code`.
bool PickPort(const CliOptions& options, const std::string& text, ResolvedPort* port,
              std::string* error, int* code);
// The sentence every port refusal ends with.
constexpr const char kPortsPointer[] = "tarnwick-cli ports lists the serial ports of this machine.";
// What `ports` does not list, said after the list.
constexpr const char kPortsNotListed[] =
    "not listed: pseudo-terminals (such as those of expander-sim) and console servers' ports "
    "(socket://, tcp://, rfc2217://); --port takes them all the same.";
// `text` as a sentence, then kPortsPointer.
std::string WithPortsPointer(const std::string& text);
// The port text of --config, for a run without --port ("" if none).
std::string ConfigPortText();
// Why startdom failed on `port`, as one line.
std::string OpenFailureText(const ResolvedPort& port);
