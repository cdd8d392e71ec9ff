// tarnwick-cli's own words for how a download ended: what happened and what
// to do next, for a command line. The dialogs' texts (which name a start
// button) stay in the status events and the trace.
#pragma once
#include <string>

#include "download/download.h"

// `ok`: fmdl_download's result; `why`: LastDownloadFailure(); `stopped`: a
// stop request was accepted during the run.
std::string DownloadResultText(bool ok, DownloadFailure why, bool stopped);
