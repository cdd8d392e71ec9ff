// Strict decoder for standard base64: the basic alphabet A-Z a-z 0-9 + /,
// padded with '=' to a multiple of four characters, no line breaks, and
// canonical (the bits that padding leaves over must be zero). Anything else
// is refused, so a sender that bends the encoding is caught, not forgiven.
// A decoder of its own on purpose: the simulator shares no code with the
// program it checks (protocol/ encodes, tests/support decodes for the tests).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

enum class Base64Error {
  kOk,
  kEmpty,          // no characters at all
  kLength,         // not a multiple of four characters
  kAlphabet,       // a character outside the alphabet (or '=' inside the text)
  kPadding,        // more than two '=' or '=' followed by data
  kTrailingBits,   // the last character carries bits that padding drops
};

// Decodes n characters; on kOk *out holds the bytes, otherwise it is empty.
Base64Error Base64Decode(const char* text, size_t n, std::vector<uint8_t>* out);

// A short lower-case description for reports ("not a multiple of 4").
const char* Base64ErrorText(Base64Error error);

// True for the 64 alphabet characters and '='.
bool IsBase64Char(uint8_t c);

}  // namespace sim
