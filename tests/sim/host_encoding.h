// The host's side of the packet line for the simulator's tests: a plain
// base64 encoder of its own, so that these tests share no code with either
// the simulator or tarnwick.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Padded base64 of `in`, without the line's closing 0x7F.
inline std::string HostBase64(const std::vector<uint8_t>& in) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < in.size(); i += 3) {
    const uint32_t n = (uint32_t(in[i]) << 16) | (i + 1 < in.size() ? uint32_t(in[i + 1]) << 8 : 0) |
                       (i + 2 < in.size() ? in[i + 2] : 0);
    out += kAlphabet[n >> 18];
    out += kAlphabet[(n >> 12) & 63];
    out += i + 1 < in.size() ? kAlphabet[(n >> 6) & 63] : '=';
    out += i + 2 < in.size() ? kAlphabet[n & 63] : '=';
  }
  return out;
}
