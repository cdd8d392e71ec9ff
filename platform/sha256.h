// SHA-256 of a byte range, as lower-case hex: the digest the download
// history keeps of each file and what `info` prints for each image. (sim/
// keeps an implementation of its own on purpose: it shares no code with the
// program it checks.)
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

std::string Sha256Hex(const uint8_t* data, size_t size);
