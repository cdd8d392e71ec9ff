// SHA-256 of a byte range, as lower-case hex: what `info` prints for each
// image so that a depot can compare it with a published digest.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

std::string Sha256Hex(const uint8_t* data, size_t size);
