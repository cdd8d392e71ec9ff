#include "image/fw_image.h"

#include <cstring>
#include <new>

#include "platform/report.h"
#include "config/settings.h"
#include "image/fw_scan.h"
#include "platform/files.h"
#include "platform/trace.h"

namespace {

// The buffer of the last parse: the whole file, followed by zeros.
uint8_t* g_fileBuffer = nullptr;
// True once the file was read into it whole.
bool g_fileBufferRead = false;

// Slack behind the file in the parse buffer and in ReadWholeFile's buffer.
constexpr uint32_t kParseSlack = 1024;
constexpr uint32_t kParseZeroed = 100;
constexpr uint32_t kWholeFileSlack = 2048;

// The 64-bit size of a file, or false if it cannot be opened.
bool FileSize64(const char* path, uint64_t* size) { return Files().Size(path, size); }

// True if `size` plus `slack` does not fit the 32-bit buffer arithmetic.
bool TooLargeForBuffer(uint64_t size, uint32_t slack) { return size > UINT32_MAX - slack; }

void ClearParseResults() {
  memset(&g_FwHdrInfo, 0, sizeof g_FwHdrInfo);
  for (FW_IMAGE& img : g_FwImages) img.data = nullptr;
  g_dwNumofImages = 0;
}

}  // namespace

bool IsImageFile(const char* path) {
  const char* sig = my_cfg.signature;
  if (!IsUsableSignature(sig)) {
    DbgTrace("IsImageFile: signature \"%s\" must have 1 to 8 characters, no file is accepted", sig);
    return false;
  }
  uint8_t head[kMaxSignatureLen + 1] = {0};
  uint32_t n = static_cast<uint32_t>(strlen(sig));
  if (!ReadFileBytes(path, head, n)) return false;
  return MatchSignature(head, n, sig);
}

bool IsImageHeader(const uint8_t* p) {
  // The caller guarantees 8 readable bytes at p (the parse buffer's zeroed tail).
  return MatchSignature(p, kMaxSignatureLen, my_cfg.signature);
}

uint32_t GetFileLength(const char* path) {
  uint64_t size = 0;
  if (!FileSize64(path, &size)) return 0;
  return static_cast<uint32_t>(size);
}

bool ReadFileBytes(const char* path, uint8_t* buf, uint32_t count) {
  return Files().Read(path, buf, count);
}

bool WriteFileBytes(const char* path, const uint8_t* buf, uint32_t count) {
  return Files().Write(path, buf, count);
}

uint8_t* ReadWholeFile(const char* path, uint32_t* size) {
  if (size) *size = 0;
  uint64_t size64 = 0;
  if (!FileSize64(path, &size64)) {
    DbgTrace("\n");
    DbgTrace("Error, unable to read file %s\n", path);
    return nullptr;
  }
  uint32_t n = static_cast<uint32_t>(size64);
  if (size) *size = n;
  // A size that would wrap n + slack is refused like a failed allocation,
  // never read into a short buffer.
  uint8_t* buf = TooLargeForBuffer(size64, kWholeFileSlack) ? nullptr
                                                            : new (std::nothrow)
                                                                  uint8_t[n + kWholeFileSlack];
  if (!buf) {
    DbgTrace("\n");
    DbgTrace("Error, unable to allocate memory to read file %s\n", path);
    return nullptr;
  }
  if (!ReadFileBytes(path, buf, n)) {
    delete[] buf;
    DbgTrace("\n");
    DbgTrace("Error, unable to read file %s\n", path);
    return nullptr;
  }
  return buf;
}

void ParseFwFile(const char* path) {
  ClearParseResults();
  // A buffer left by an earlier parse is no longer referenced by the table.
  FreeFwFileBuffer();
  g_bBootLoaderInProgress = 0;
  ResetProgress();

  uint64_t size64 = 0;
  if (!FileSize64(path, &size64)) size64 = 0;
  g_dwTotalFileSize = static_cast<uint32_t>(size64);
  DbgTrace("g_dwTotalFileSize= %d", static_cast<int>(g_dwTotalFileSize));

  // Files of 4 GiB less the slack and more cannot be held: the slack would
  // wrap the 32-bit size, so they count as an allocation failure.
  uint8_t* buf = TooLargeForBuffer(size64, kParseSlack)
                     ? nullptr
                     : new (std::nothrow) uint8_t[g_dwTotalFileSize + kParseSlack];
  if (!buf) {
    AppMessageBox("Unable to allocate memory to read file!", "Error", kMbOk);
    return;
  }
  memset(buf, 0, g_dwTotalFileSize + kParseZeroed);
  g_fileBuffer = buf;

  if (ReadFileBytes(path, buf, g_dwTotalFileSize)) {
    g_fileBufferRead = true;
    DbgTrace("sizeof(FW_FILE_HDR)=%d bytes", static_cast<int>(kFwFileHdrSize));
    FW_SCAN scan;
    ScanFwBuffer(buf, g_dwTotalFileSize, my_cfg.signature, &scan);
    // The images past the table's last entry would be dropped, a bootloader
    // among them, and the rest reported as the whole file: refused instead.
    if (scan.numHeaders > kMaxImages) {
      DbgTrace("ParseFwFile: %u images, more than the %u the table holds, file refused",
               static_cast<unsigned>(scan.numHeaders), static_cast<unsigned>(kMaxImages));
      scan.numImages = 0;
    }
    g_dwNumofImages = scan.numImages;
    for (uint32_t i = 0; i < scan.numImages; ++i) g_FwImages[i] = scan.images[i];
    g_FwHdrInfo = scan.hdrInfo;
    PutBootLoaderLast(g_FwImages, g_dwNumofImages);
  }

  DbgTrace("g_dwTotalFileSize= %d", static_cast<int>(g_dwTotalFileSize));
  DbgTrace("g_dwNumofImages=%d", static_cast<int>(g_dwNumofImages));
  for (uint32_t i = 0; i < g_dwNumofImages; ++i) {
    DbgTrace("File #%d: offset=%d, len=%d, part=0x%x", static_cast<int>(i),
             static_cast<int>(g_FwImages[i].offset), static_cast<int>(g_FwImages[i].length),
             g_FwImages[i].part);
  }
}

bool FwFileBytes(const uint8_t** data, uint32_t* size) {
  if (g_fileBuffer == nullptr || !g_fileBufferRead) return false;
  *data = g_fileBuffer;
  *size = g_dwTotalFileSize;
  return true;
}

void FreeFwFileBuffer() {
  g_fileBufferRead = false;
  delete[] g_fileBuffer;
  g_fileBuffer = nullptr;
  for (FW_IMAGE& img : g_FwImages) img.data = nullptr;
}
