// Image files come from vendors' sites, mail and USB sticks: any bytes at all.
// Properties of the scan and of ParseFwFile on them:
// - every image lies inside the file, begins with the signature, carries the
//   header's part byte and length, and images do not overlap;
// - the table holds at most 16 entries, in file order before the bootloader
//   is moved last, and the signature's letter case changes nothing;
// - after the move the first bootloader is last and no entry is lost;
// - ParseFwFile on the same bytes in a file fills the same table, and
//   IsImageFile accepts the file exactly when it begins with the signature.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/settings.h"
#include "fuzz_support.h"
#include "image/fw_image.h"
#include "image/image_check.h"
#include "image/fw_scan.h"

namespace {

const char kSignature[] = "VRQ";

bool SameImage(const FW_IMAGE& a, const FW_IMAGE& b) {
  return a.offset == b.offset && a.length == b.length && a.part == b.part;
}

uint8_t Upper(uint8_t c) { return (c >= 'a' && c <= 'z') ? static_cast<uint8_t>(c - 32) : c; }

bool BeginsWithSignature(const uint8_t* p, size_t avail) {
  size_t n = strlen(kSignature);
  if (avail < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (Upper(p[i]) != static_cast<uint8_t>(kSignature[i])) return false;
  return true;
}

uint32_t BigEndianAt(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

void CheckScan(const uint8_t* buf, uint32_t size, const FW_SCAN& scan) {
  FUZZ_CHECK(scan.numImages <= kMaxImages);
  FUZZ_CHECK(scan.numImages <= scan.numHeaders);
  if (scan.truncated) {
    FUZZ_CHECK(scan.numImages == 0);
    FUZZ_CHECK(scan.truncatedOffset < size);
    FUZZ_CHECK(uint64_t(scan.truncatedOffset) + kFwFileHdrSize + scan.truncatedFwLen > size);
  } else if (scan.numHeaders > kMaxImages) {
    FUZZ_CHECK(scan.numImages == kMaxImages);
  }
  uint64_t previous_end = 0;
  for (uint32_t i = 0; i < scan.numImages; ++i) {
    const FW_IMAGE& img = scan.images[i];
    FUZZ_CHECK(img.length >= kFwFileHdrSize);
    FUZZ_CHECK(uint64_t(img.offset) + img.length <= size);
    FUZZ_CHECK(img.offset >= previous_end);
    FUZZ_CHECK(img.data == buf + img.offset);
    FUZZ_CHECK(BeginsWithSignature(img.data, size - img.offset));
    // A whole header lies inside the file, so its fields are the file's bytes.
    FUZZ_CHECK(img.part == img.data[10]);
    FUZZ_CHECK(img.length - kFwFileHdrSize == BigEndianAt(img.data + 16));
    previous_end = uint64_t(img.offset) + img.length;
  }
  if (scan.hasVersion) {
    FUZZ_CHECK(uint64_t(scan.versionOffset) + 4 <= size);
    FUZZ_CHECK(IsVersionRecord(buf + scan.versionOffset));
    FUZZ_CHECK(scan.hdrInfo.magic == kVersionRecordMagic);
  } else {
    FW_HDR_INFO zero;
    memset(&zero, 0, sizeof zero);
    FUZZ_CHECK(memcmp(&scan.hdrInfo, &zero, sizeof zero) == 0);
  }
}

void CheckBootLoaderLast(const FW_SCAN& scan) {
  FW_IMAGE table[kMaxImages];
  memcpy(table, scan.images, sizeof table);
  const uint32_t n = scan.numImages;
  PutBootLoaderLast(table, n);
  int first_boot = -1;
  for (uint32_t i = 0; i < n && first_boot < 0; ++i)
    if (scan.images[i].part == kPartBootloader) first_boot = static_cast<int>(i);
  if (first_boot < 0) {
    for (uint32_t i = 0; i < n; ++i) FUZZ_CHECK(SameImage(table[i], scan.images[i]));
    return;
  }
  FUZZ_CHECK(table[n - 1].part == kPartBootloader);
  FUZZ_CHECK(SameImage(table[n - 1], scan.images[first_boot]));
  FUZZ_CHECK(SameImage(table[first_boot], scan.images[n - 1]));
  for (uint32_t i = 0; i < n; ++i)
    if (i != uint32_t(first_boot) && i != n - 1) FUZZ_CHECK(SameImage(table[i], scan.images[i]));
}

std::string TempPath() {
  // Rewritten for every input: keep it in memory where there is a place.
  const char* dir = getenv("TMPDIR");
  if (!dir || !*dir) dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string path = std::string(dir) + "/image-scan-fuzz-XXXXXX";
  int fd = mkstemp(&path[0]);
  if (fd < 0) {
    perror("mkstemp");
    abort();
  }
  close(fd);
  return path;
}

std::string g_path;

void RemoveTempFile() { unlink(g_path.c_str()); }

bool Init() {
  fuzz::QuietTrace();
  snprintf(my_cfg.signature, sizeof my_cfg.signature, "%s", kSignature);
  g_path = TempPath();
  atexit(RemoveTempFile);
  return true;
}

void WriteFile(const uint8_t* data, size_t size) {
  FILE* f = fopen(g_path.c_str(), "wb");
  if (!f || fwrite(data, 1, size, f) != size || fclose(f) != 0) {
    perror(g_path.c_str());
    abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = Init();
  (void)init;
  if (size > UINT32_MAX) return 0;
  const uint32_t n = static_cast<uint32_t>(size);

  FW_SCAN scan;
  ScanFwBuffer(data, n, kSignature, &scan);
  CheckScan(data, n, scan);
  CheckBootLoaderLast(scan);

  FW_SCAN lower;
  ScanFwBuffer(data, n, "vrq", &lower);
  FUZZ_CHECK(lower.numImages == scan.numImages && lower.numHeaders == scan.numHeaders);
  FUZZ_CHECK(lower.truncated == scan.truncated && lower.hasVersion == scan.hasVersion);
  for (uint32_t i = 0; i < scan.numImages; ++i)
    FUZZ_CHECK(SameImage(lower.images[i], scan.images[i]));

  // The same bytes as a file, through the procedure's own entry points.
  WriteFile(data, size);
  FUZZ_CHECK(IsImageFile(g_path.c_str()) == BeginsWithSignature(data, size));
  ParseFwFile(g_path.c_str());
  FUZZ_CHECK(g_dwTotalFileSize == n);
  // More images than the table holds: the file is refused whole, never cut.
  const uint32_t parsed = scan.numHeaders > kMaxImages ? 0 : scan.numImages;
  FUZZ_CHECK(g_dwNumofImages == parsed);
  // The front ends' check before the port accepts exactly the image files
  // the parse finds something to send in.
  const IMAGE_FILE_CHECK check = CheckImageFileForDownload(g_path.c_str());
  FUZZ_CHECK((check.problem == ImageFileProblem::kNone) ==
             (parsed > 0 && BeginsWithSignature(data, size)));
  FW_IMAGE expected[kMaxImages];
  memcpy(expected, scan.images, sizeof expected);
  PutBootLoaderLast(expected, parsed);
  for (uint32_t i = 0; i < g_dwNumofImages; ++i) {
    FUZZ_CHECK(SameImage(g_FwImages[i], expected[i]));
    FUZZ_CHECK(memcmp(g_FwImages[i].data, data + g_FwImages[i].offset, g_FwImages[i].length) == 0);
  }
  FUZZ_CHECK(memcmp(&g_FwHdrInfo, &scan.hdrInfo, sizeof g_FwHdrInfo) == 0);
  FreeFwFileBuffer();
  return 0;
}
