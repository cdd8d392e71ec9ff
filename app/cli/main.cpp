// tarnwick-cli: the download core for scripts, CI jobs and fleets.
#include "app/cli/cli_options.h"
#include "platform/trace.h"

namespace {
void DropTrace(const char*) {}
}  // namespace

int main(int argc, char** argv) {
  // The trace goes to --log or nowhere; never onto the output a script reads.
  SetTraceHook(DropTrace);
  CliOptions options;
  const int parsed = ParseCommandLine(argc, argv, &options);
  if (parsed >= 0) return parsed;
  if (options.command == "ports") return RunPorts(options);
  if (options.command == "probe") return RunProbe(options);
  if (options.command == "info") return RunInfo(options);
  return RunDownload(options);
}
