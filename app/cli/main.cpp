// tarnwick-cli: the download core for scripts, CI jobs and fleets.
#include "app/cli/cli_options.h"
#include "app/cli/console_hold.h"
#include "app/cli/console_io.h"
#include "app/cli/exit_codes.h"
#include "platform/trace.h"

namespace {

void DropTrace(const char*) {}

int Run(const CliOptions& options) {
  const std::string conflict = OptionsConflict(options);
  if (!conflict.empty()) return RefuseRun(options, kExitBadInput, conflict);
  if (options.command == "ports") return RunPorts(options);
  if (options.command == "probe") return RunProbe(options);
  if (options.command == "info") return RunInfo(options);
  if (options.command == "verify") return RunVerify(options);
  if (options.command == "plan") return RunPlan(options);
  if (options.command == "doctor") return RunDoctor(options);
  if (options.command == "history") return RunHistory(options);
  return RunDownload(options);
}

}  // namespace

int main(int argc, char** argv) {
  // The trace goes to --log or nowhere; never onto the output a script reads.
  SetTraceHook(DropTrace);
  // From the first line on: output nobody reads any more must not end a run.
  IgnoreBrokenPipe();
  CliOptions options;
  int code = ParseCommandLine(argc, argv, &options);
  if (code < 0) code = Run(options);
  MarkRunEnded(code);
  return code;
}
