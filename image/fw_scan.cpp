#include "image/fw_scan.h"

#include <cstdio>

#include <cstring>

#include "platform/trace.h"

namespace {

uint8_t AsciiUpper(uint8_t c) { return (c >= 'a' && c <= 'z') ? static_cast<uint8_t>(c - 32) : c; }

// Byte `i` of the file, or 0 past its end: a header cut by the end of the file
// reads as if followed by zeros, without touching memory outside the buffer.
uint8_t ByteAt(const uint8_t* buf, uint64_t size, uint64_t i) { return i < size ? buf[i] : 0; }

}  // namespace

bool IsUsableSignature(const char* signature) {
  size_t n = strnlen(signature, kMaxSignatureLen + 1);
  return n >= 1 && n <= kMaxSignatureLen;
}

bool MatchSignature(const uint8_t* p, size_t avail, const char* signature) {
  if (!IsUsableSignature(signature)) return false;
  size_t n = strlen(signature);
  if (avail < n) return false;
  for (size_t i = 0; i < n; ++i) {
    // The signature holds no NUL, so a 0x00 byte in the file fails here too.
    if (AsciiUpper(p[i]) != AsciiUpper(static_cast<uint8_t>(signature[i]))) return false;
  }
  return true;
}

// The scan's trace lines, left out by a check that is not the parse.
#define SCAN_TRACE(...)               \
  do {                                \
    if (traced) DbgTrace(__VA_ARGS__); \
  } while (0)

void ScanFwBuffer(const uint8_t* buf, uint32_t size, const char* signature, FW_SCAN* out,
                  bool traced) {
  memset(out, 0, sizeof *out);
  if (!IsUsableSignature(signature)) {
    SCAN_TRACE("ParseFwFile: signature \"%s\" must have 1 to 8 characters, no image header can match",
             signature);
  }
  // 64-bit offsets: a length near 4 GiB must not wrap back into the file.
  uint64_t pos = 0;
  while (pos < size) {
    const uint8_t* p = buf + pos;
    uint64_t avail = size - pos;
    if (MatchSignature(p, static_cast<size_t>(avail), signature)) {
      uint8_t b[4];
      for (int i = 0; i < 4; ++i) b[i] = ByteAt(buf, size, pos + 16 + i);
      uint32_t dwFwLen = (static_cast<uint32_t>(b[0]) << 24) | (static_cast<uint32_t>(b[1]) << 16) |
                         (static_cast<uint32_t>(b[2]) << 8) | b[3];
      uint8_t part = ByteAt(buf, size, pos + 10);
      SCAN_TRACE("%x, %x, %x, %x", b[0], b[1], b[2], b[3]);
      SCAN_TRACE("dwBytesToProcess=%d", static_cast<int>(pos));
      SCAN_TRACE("dwFwLen=%d(0x%x)", static_cast<int>(dwFwLen), dwFwLen);
      SCAN_TRACE("hdr->dstpart=0x%x", part);
      ++out->numHeaders;
      uint64_t end = pos + kFwFileHdrSize + dwFwLen;
      if (end > size) {
        SCAN_TRACE(
            "ParseFwFile: image at offset %u (dwFwLen=%u) runs past the end of the file "
            "(%u bytes), file refused",
            static_cast<unsigned>(pos), dwFwLen, size);
        out->truncated = true;
        out->truncatedOffset = static_cast<uint32_t>(pos);
        out->truncatedFwLen = dwFwLen;
        out->numImages = 0;
        memset(out->images, 0, sizeof out->images);
        return;
      }
      if (out->numImages < kMaxImages) {
        FW_IMAGE& img = out->images[out->numImages++];
        img.offset = static_cast<uint32_t>(pos);
        img.length = dwFwLen + kFwFileHdrSize;
        img.part = part;
        img.data = p;
      } else {
        SCAN_TRACE("ParseFwFile: more than %u images, image at offset %u not stored",
                 static_cast<unsigned>(kMaxImages), static_cast<unsigned>(pos));
      }
      pos = end;
    } else if (avail >= 4 && IsVersionRecord(p)) {
      // A record cut by the end of the file reads as if followed by zeros.
      uint8_t rec[sizeof(FW_HDR_INFO)] = {0};
      memcpy(rec, p, avail < sizeof rec ? static_cast<size_t>(avail) : sizeof rec);
      memcpy(&out->hdrInfo, rec, sizeof rec);
      out->hasVersion = true;
      out->versionOffset = static_cast<uint32_t>(pos);
      SCAN_TRACE("fw header info=v.%d.%d.%d.%d", out->hdrInfo.major, out->hdrInfo.minor,
               out->hdrInfo.build, out->hdrInfo.revision);
      pos += sizeof(FW_HDR_INFO);
    } else {
      ++pos;
    }
  }
}

#undef SCAN_TRACE

void PutBootLoaderLast(FW_IMAGE* images, uint32_t count) {
  for (uint32_t i = 0; i + 1 < count; ++i) {
    if (images[i].part == kPartBootloader) {
      FW_IMAGE tmp = images[i];
      images[i] = images[count - 1];
      images[count - 1] = tmp;
      return;
    }
  }
}

const char* PartName(uint8_t part) {
  if (part == kPartFirmware) return "firmware";
  if (part == kPartBootloader) return "bootloader";
  return "other";
}

std::string VersionNumbersText(uint32_t major, uint32_t minor, uint32_t build, uint32_t revision) {
  char text[48];
  snprintf(text, sizeof text, "%u.%02u.%04u.%02u", major, minor, build, revision);
  return text;
}

bool IsVersionRecord(const uint8_t* p) {
  uint32_t v = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
               (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
  return v == kVersionRecordMagic;
}

DownloadPlan ChooseDownloadPlan(const FW_IMAGE* images, uint32_t count) {
  if (count == 0) return DownloadPlan::kNone;
  bool firmware = false, bootloader = false;
  for (uint32_t i = 0; i < count; ++i) {
    firmware |= images[i].part == kPartFirmware;
    bootloader |= images[i].part == kPartBootloader;
  }
  return count > 1 && firmware && bootloader ? DownloadPlan::kWithRebooting : DownloadPlan::kNormal;
}
