// Builds firmware image files in memory, for the fwimage tool, tests, demos
// and benchmarks. Bodies are either a fixed pattern or seeded pseudo-random
// bytes that come out the same on every platform.
#pragma once
#include <cstdint>
#include <vector>

// Every header byte that carries no field (after the signature up to byte 9,
// bytes 11 to 15 and 20 to 27). A download passes it on unchanged.
constexpr uint8_t kHeaderFiller = 0xA5;

enum class BodyKind { kPattern, kRandom };

// Deterministic 32-bit generator: the same seed gives the same bytes everywhere.
class FwPrng {
 public:
  explicit FwPrng(uint32_t seed) : state_(seed) {}
  uint32_t Next();

 private:
  uint32_t state_;
};

// Fills `n` body bytes. The pattern is byte i = i mod 251: 251 is prime, so
// no two 256-byte blocks of a body are alike and a misplaced block shows.
void FillBody(uint8_t* p, uint32_t n, BodyKind kind, uint32_t seed);

// Appends a 28-byte header (signature, filler, `part` at byte 10, big-endian
// `bodyLen` at bytes 16 to 19) and `bodyLen` body bytes. The signature is cut
// to the 10 bytes before the part byte.
void AppendImage(std::vector<uint8_t>* out, const char* signature, uint8_t part, uint32_t bodyLen,
                 BodyKind kind = BodyKind::kPattern, uint32_t seed = 0);

// Appends an 8-byte version record: 34 12 CD AB, major, minor, build, revision.
void AppendVersionRecord(std::vector<uint8_t>* out, uint8_t major, uint8_t minor, uint8_t build,
                         uint8_t revision);
