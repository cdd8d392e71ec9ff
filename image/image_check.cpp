#include "image/image_check.h"

#include <cstring>

#include "config/settings.h"
#include "image/fw_image.h"
#include "image/fw_scan.h"
#include "platform/files.h"

static_assert(sizeof(FWDL_CFG::file) == kMaxImagePathLen + 1,
              "the path limit is the settings record's file field");

IMAGE_FILE_CHECK CheckImageFileForDownload(const char* path) {
  IMAGE_FILE_CHECK check = {ImageFileProblem::kNone, 0, 0};
  if (strlen(path) > kMaxImagePathLen) {
    check.problem = ImageFileProblem::kPathTooLong;
    return check;
  }
  if (!Files().Exists(path)) {
    check.problem = ImageFileProblem::kMissing;
    return check;
  }
  if (!IsImageFile(path)) {
    check.problem = ImageFileProblem::kNotImage;
    return check;
  }
  uint32_t size = 0;
  uint8_t* buf = ReadWholeFile(path, &size);
  if (buf == nullptr) {
    check.problem = ImageFileProblem::kUnreadable;
    return check;
  }
  FW_SCAN scan;
  ScanFwBuffer(buf, size, my_cfg.signature, &scan, false);
  delete[] buf;
  check.images = scan.numHeaders;
  if (scan.truncated) {
    check.problem = ImageFileProblem::kTruncated;
    check.truncatedOffset = scan.truncatedOffset;
  } else if (scan.numHeaders > kMaxImages) {
    check.problem = ImageFileProblem::kTooManyImages;
  } else if (scan.numImages == 0) {
    check.problem = ImageFileProblem::kNoImages;
  }
  return check;
}
