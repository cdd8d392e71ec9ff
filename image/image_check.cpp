#include "image/image_check.h"

#include <cstring>

#include "config/settings.h"
#include "image/fw_image.h"
#include "image/fw_scan.h"
#include "platform/files.h"
#include "platform/paths.h"

static_assert(sizeof(FWDL_CFG::file) == kMaxImagePathLen + 1,
              "the path limit is the settings record's file field");
static_assert(sizeof(IMAGE_FILE_CHECK::head) == kMaxSignatureLen, "the head holds a signature");

namespace {

// Why IsImageFile refused the file at `path`.
void ExplainNotImage(const char* path, IMAGE_FILE_CHECK* check) {
  uint64_t size = 0;
  const uint32_t sigLen = static_cast<uint32_t>(strlen(my_cfg.signature));
  if (IsFolder(path)) {
    check->notImage = NotImageReason::kFolder;
  } else if (!IsUsableSignature(my_cfg.signature)) {
    check->notImage = NotImageReason::kBadSignature;
  } else if (!Files().Size(path, &size)) {
    check->notImage = NotImageReason::kCannotOpen;
  } else if (size == 0) {
    check->notImage = NotImageReason::kEmpty;
  } else if (size < sigLen) {
    check->notImage = NotImageReason::kShort;
    check->fileSize = size;
  } else if (!ReadFileBytes(path, check->head, sigLen)) {
    check->notImage = NotImageReason::kCannotOpen;
  } else {
    check->notImage = NotImageReason::kNoSignature;
    check->headLen = sigLen;
  }
}

}  // namespace

IMAGE_FILE_CHECK CheckImageFileForDownload(const char* path) {
  IMAGE_FILE_CHECK check{};
  check.problem = ImageFileProblem::kNone;
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
    ExplainNotImage(path, &check);
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
