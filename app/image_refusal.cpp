#include "app/image_refusal.h"

#include <cstdio>
#include <cstring>

#include "config/settings.h"
#include "image/fw_image.h"
#include "platform/paths.h"

namespace {

// The limit is on bytes: a letter outside ASCII takes more than one, so a
// path of fewer letters than the limit can still pass it. `bytes` is 0 when
// the length is not known (a settings key read only so far).
std::string PathTooLongText(size_t bytes) {
  char length[40] = "";
  if (bytes > 0) snprintf(length, sizeof length, "%lu bytes, ", static_cast<unsigned long>(bytes));
  char text[300];
  snprintf(text, sizeof text,
           "Error, the path of the image file has %smore than the %u bytes this utility can use "
           "(a letter outside ASCII can take more than one)! Move the file to a shorter path.",
           length, static_cast<unsigned>(kMaxImagePathLen));
  return text;
}

// `bytes` as a quoted text, anything outside printable ASCII as \xNN.
std::string QuotedBytes(const uint8_t* bytes, uint32_t n) {
  std::string out = "\"";
  for (uint32_t i = 0; i < n; ++i) {
    if (bytes[i] >= 0x20 && bytes[i] < 0x7F && bytes[i] != '"' && bytes[i] != '\\') {
      out.push_back(static_cast<char>(bytes[i]));
    } else {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", bytes[i]);
      out += hex;
    }
  }
  return out + "\"";
}

// What follows "is not a valid firmware image!": why, so the user knows what
// to look for. A folder is named by its whole path.
std::string NotImageReasonText(const IMAGE_FILE_CHECK& check, const char* path) {
  const std::string signature = std::string("\"") + my_cfg.signature + "\"";
  switch (check.notImage) {
    case NotImageReason::kNoSignature:
      return " It begins with " + QuotedBytes(check.head, check.headLen) +
             ", not with the signature " + signature + " that begins every image file.";
    case NotImageReason::kShort:
      return " It holds " + std::to_string(check.fileSize) + " bytes, fewer than the signature " +
             signature + " that begins every image file.";
    case NotImageReason::kEmpty:
      return " The file is empty.";
    case NotImageReason::kFolder:
      return std::string(" ") + path + " is a folder.";
    case NotImageReason::kCannotOpen:
      return " It cannot be opened for reading.";
    case NotImageReason::kBadSignature:
      return " The signature setting " + signature +
             " must have 1 to 8 characters; no file is taken while it has not.";
  }
  return "";
}

}  // namespace

std::string ImageRefusalText(const IMAGE_FILE_CHECK& check, const char* path) {
  const char* name = PathFileNamePart(path);
  char text[600];
  switch (check.problem) {
    case ImageFileProblem::kPathTooLong:
      return PathTooLongText(strlen(path));
    case ImageFileProblem::kMissing:
      snprintf(text, sizeof text, "Error, file %s doesn't exist!", name);
      break;
    case ImageFileProblem::kNotImage:
      snprintf(text, sizeof text, "Error, %s is not a valid firmware image!", name);
      return text + NotImageReasonText(check, path);
    case ImageFileProblem::kUnreadable:
      snprintf(text, sizeof text, "Error, %s cannot be read!", name);
      break;
    case ImageFileProblem::kTruncated:
      snprintf(text, sizeof text,
               "Error, %s is not a valid firmware image: the image at offset %u runs past the end "
               "of the file!",
               name, static_cast<unsigned>(check.truncatedOffset));
      break;
    case ImageFileProblem::kNoImages:
      snprintf(text, sizeof text, "Error, %s holds no image to download!", name);
      break;
    case ImageFileProblem::kTooManyImages:
      snprintf(text, sizeof text,
               "Error, %s holds %u images, more than the %u this utility can download!", name,
               static_cast<unsigned>(check.images), static_cast<unsigned>(kMaxImages));
      break;
    case ImageFileProblem::kNone:
      text[0] = '\0';
      break;
  }
  return text;
}

std::string LongSettingsFileText() { return PathTooLongText(0); }
