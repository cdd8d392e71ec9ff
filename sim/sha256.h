// SHA-256 (FIPS 180-4), for the digests of received images in the report.
// Apart from platform/sha256.cpp on purpose: the simulator shares no code
// with the program it checks, so a wrong digest cannot agree with itself.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

class Sha256 {
 public:
  Sha256();
  void Update(const uint8_t* data, size_t n);
  // Finishes the digest into 32 bytes; the object must not be used after.
  void Final(uint8_t digest[32]);

 private:
  void Block(const uint8_t* block);

  uint32_t state_[8];
  uint8_t buffer_[64];
  size_t buffered_ = 0;
  uint64_t total_bytes_ = 0;
};

// Lower-case hexadecimal digest of n bytes (64 characters).
std::string Sha256Hex(const uint8_t* data, size_t n);

}  // namespace sim
