// What the simulator tells its user when it stops: the received images on
// disk, and a JSON report of everything it saw.
#pragma once
#include <string>
#include <vector>

#include "sim/download.h"
#include "sim/download.h"
#include "sim/records.h"

namespace sim {

// Writes the image into dir as image-<n>-part-<xx>.bin (xx: the part in two
// hex digits, or "none"); records the path, or the error, in the image.
bool SaveImage(const std::string& dir, ImageRecord* image);

// The whole report as one JSON object. Times are seconds since the start.
// exit_reason: "signal", "download" or "timeout".
std::string ReportJson(const Record& record, const std::vector<ImageRecord>& images,
                       const std::string& exit_reason);

// Writes text to path through a temporary file and a rename, so a reader
// never sees half a report. False with *error set on failure.
bool WriteFileAtomically(const std::string& path, const std::string& text, std::string* error);

}  // namespace sim
