// tarnwick-cli's own words for how a download ended: what happened and what
// to do next, for a command line. The dialogs' texts (which name a start
// button) stay in the status events and the trace.
#pragma once
#include <string>

#include "platform/report.h"

// `record`: what the download returned; `stopped`: a stop request
// was accepted during the run.
std::string DownloadResultText(const DownloadRecord& record, bool stopped);
