#include "image/fw_builder.h"

#include <cstring>

#include "image/fw_image.h"

uint32_t FwPrng::Next() {
  // A 32-bit mix of a Weyl sequence: every seed, 0 included, gives a full
  // stream, and only unsigned 32-bit arithmetic is involved.
  state_ += 0x9E3779B9u;
  uint32_t z = state_;
  z = (z ^ (z >> 16)) * 0x85EBCA6Bu;
  z = (z ^ (z >> 13)) * 0xC2B2AE35u;
  return z ^ (z >> 16);
}

void FillBody(uint8_t* p, uint32_t n, BodyKind kind, uint32_t seed) {
  if (kind == BodyKind::kPattern) {
    for (uint32_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(i % 251);
    return;
  }
  FwPrng prng(seed);
  for (uint32_t i = 0; i < n; i += 4) {
    uint32_t v = prng.Next();
    for (uint32_t k = 0; k < 4 && i + k < n; ++k) p[i + k] = static_cast<uint8_t>(v >> (8 * k));
  }
}

void AppendImage(std::vector<uint8_t>* out, const char* signature, uint8_t part, uint32_t bodyLen,
                 BodyKind kind, uint32_t seed) {
  uint8_t hdr[kFwFileHdrSize];
  memset(hdr, kHeaderFiller, sizeof hdr);
  size_t n = strlen(signature);
  if (n > 10) n = 10;
  memcpy(hdr, signature, n);
  hdr[10] = part;
  hdr[16] = static_cast<uint8_t>(bodyLen >> 24);
  hdr[17] = static_cast<uint8_t>(bodyLen >> 16);
  hdr[18] = static_cast<uint8_t>(bodyLen >> 8);
  hdr[19] = static_cast<uint8_t>(bodyLen);
  out->insert(out->end(), hdr, hdr + sizeof hdr);
  size_t at = out->size();
  out->resize(at + bodyLen);
  FillBody(out->data() + at, bodyLen, kind, seed);
}

void AppendVersionRecord(std::vector<uint8_t>* out, uint8_t major, uint8_t minor, uint8_t build,
                         uint8_t revision) {
  const uint8_t rec[8] = {0x34, 0x12, 0xCD, 0xAB, major, minor, build, revision};
  out->insert(out->end(), rec, rec + sizeof rec);
}
