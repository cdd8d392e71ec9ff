// Whether an image file can be downloaded as a whole: the check every
// download front end makes before it touches the port.
#pragma once
#include <cstdint>

enum class ImageFileProblem {
  kNone,
  kPathTooLong,    // the path does not fit the 260-byte path the download works with
  kMissing,        // nothing of that name
  kNotImage,       // a folder, or a file that does not begin with the signature
  kUnreadable,     // the signature is there, but the whole file cannot be read or held
  kTruncated,      // an image runs past the end of the file
  kNoImages,       // no image header in the file
  kTooManyImages,  // more image headers than the table holds
};

// Why a file is kNotImage.
enum class NotImageReason {
  kNoSignature,   // its first bytes are another text (head, headLen)
  kShort,         // it holds fewer bytes than the signature (fileSize)
  kEmpty,         // it holds no byte at all
  kFolder,        // the path names a folder
  kCannotOpen,    // it cannot be opened for reading
  kBadSignature,  // the signature setting is no usable signature: no file is an image
};

struct IMAGE_FILE_CHECK {
  ImageFileProblem problem;
  uint32_t images;           // image headers found, those past the table's 16 included
  uint32_t truncatedOffset;  // kTruncated: the offset of the image that runs past the end
  NotImageReason notImage;   // kNotImage: why
  uint8_t head[8];           // kNoSignature: the file's first bytes, as many as the signature has
  uint32_t headLen;
  uint64_t fileSize;         // kShort: the file's size
};

// The longest path a download takes, in bytes without the NUL: the path
// buffers of the settings record and the dialogs hold 260 bytes.
constexpr uint32_t kMaxImagePathLen = 259;

// Checks the file at `path` as ParseFwFile will scan it, with the settings'
// signature. A path longer than kMaxImagePathLen is refused before anything
// is read, so the file checked is always the file parsed.
IMAGE_FILE_CHECK CheckImageFileForDownload(const char* path);
