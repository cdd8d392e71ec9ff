#include "sim/base64.h"

namespace sim {
namespace {

int SextetOf(uint8_t c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

bool IsBase64Char(uint8_t c) { return c == '=' || SextetOf(c) >= 0; }

Base64Error Base64Decode(const char* text, size_t n, std::vector<uint8_t>* out) {
  out->clear();
  if (n == 0) return Base64Error::kEmpty;
  if (n % 4 != 0) return Base64Error::kLength;

  size_t pad = 0;
  while (pad < n && text[n - 1 - pad] == '=') ++pad;
  if (pad > 2) return Base64Error::kPadding;
  const size_t data_chars = n - pad;

  std::vector<uint8_t> bytes;
  bytes.reserve(n / 4 * 3);
  uint32_t acc = 0;
  int bits = 0;
  for (size_t i = 0; i < data_chars; ++i) {
    const uint8_t c = static_cast<uint8_t>(text[i]);
    if (c == '=') return Base64Error::kPadding;
    const int v = SextetOf(c);
    if (v < 0) return Base64Error::kAlphabet;
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes.push_back(static_cast<uint8_t>(acc >> bits));
      acc &= (1u << bits) - 1;
    }
  }
  // One '=' leaves 2 spare bits, two leave 4; they must be zero.
  if (acc != 0) return Base64Error::kTrailingBits;
  *out = std::move(bytes);
  return Base64Error::kOk;
}

const char* Base64ErrorText(Base64Error error) {
  switch (error) {
    case Base64Error::kOk: return "ok";
    case Base64Error::kEmpty: return "empty base64 text";
    case Base64Error::kLength: return "base64 text not a multiple of 4 characters";
    case Base64Error::kAlphabet: return "character outside the base64 alphabet";
    case Base64Error::kPadding: return "misplaced base64 padding";
    case Base64Error::kTrailingBits: return "non-zero bits under base64 padding";
  }
  return "?";
}

}  // namespace sim
