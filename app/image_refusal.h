// The texts that refuse an image file before a download, shared by the
// dialogs and the command line.
#pragma once
#include <string>

#include "image/image_check.h"

// The status-line text for a refused file (check.problem is not kNone),
// naming only the file-name part of `path`.
std::string ImageRefusalText(const IMAGE_FILE_CHECK& check, const char* path);
// The text for a `file` key of the settings file refused as too long for a
// path (FWDL_CFG::fileTooLong): the path-limit text above.
std::string LongSettingsFileText();
