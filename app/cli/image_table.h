// The image table of a file as the download will see it, for `info`.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "console/version.h"

struct ImageEntry {
  uint32_t offset;  // of the image header in the file
  uint32_t length;  // header and body
  uint8_t part;
  std::string sha256;  // of the image's bytes, header included
};

struct ImageTable {
  std::string path;
  uint32_t size = 0;
  std::string sha256;  // of the whole file
  std::string signature;
  bool hasVersion = false;
  uint32_t versionOffset = 0;
  uint8_t version[4] = {0, 0, 0, 0};
  uint32_t headers = 0;             // image headers seen, beyond the 16th included
  std::vector<ImageEntry> images;   // in download order: bootloader last
  bool rebooting = false;           // the path with rebooting (firmware and bootloader)
};

// Reads and scans the file with my_cfg.signature. False if it cannot be read.
bool ReadImageTable(const std::string& path, ImageTable* table);
// The table as `info` prints it, and as one JSON object (a line).
std::string ImageTableText(const ImageTable& table);
std::string ImageTableJson(const ImageTable& table);

// The file's version record (read with my_cfg.signature) in the running
// version's form. False if the file cannot be read or holds no record.
bool ReadFileVersion(const std::string& path, FW_VERSION* version);
