#include "app/cli/image_table.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "platform/sha256.h"
#include "config/settings.h"
#include "image/fw_image.h"
#include "image/fw_scan.h"

namespace {

std::string Hex2(uint8_t part) {
  char text[8];
  snprintf(text, sizeof text, "0x%02X", part);
  return text;
}

std::string VersionOf(const ImageTable& t) {
  return VersionNumbersText(t.version[0], t.version[1], t.version[2], t.version[3]);
}

}  // namespace

bool ReadImageTable(const std::string& path, ImageTable* table) {
  uint32_t size = 0;
  uint8_t* buf = ReadWholeFile(path.c_str(), &size);
  if (buf == nullptr) return false;
  FW_SCAN scan;
  ScanFwBuffer(buf, size, my_cfg.signature, &scan);
  PutBootLoaderLast(scan.images, scan.numImages);
  ImageTable t;
  t.path = path;
  t.size = size;
  t.sha256 = Sha256Hex(buf, size);
  t.signature = my_cfg.signature;
  t.hasVersion = scan.hasVersion;
  t.versionOffset = scan.versionOffset;
  t.version[0] = scan.hdrInfo.major;
  t.version[1] = scan.hdrInfo.minor;
  t.version[2] = scan.hdrInfo.build;
  t.version[3] = scan.hdrInfo.revision;
  t.headers = scan.numHeaders;
  for (uint32_t i = 0; i < scan.numImages; ++i) {
    const FW_IMAGE& im = scan.images[i];
    t.images.push_back({im.offset, im.length, im.part, Sha256Hex(im.data, im.length)});
  }
  t.rebooting = ChooseDownloadPlan(scan.images, scan.numImages) == DownloadPlan::kWithRebooting;
  delete[] buf;
  *table = t;
  return true;
}

std::string ImageTableText(const ImageTable& t) {
  std::string out;
  char line[512];
  snprintf(line, sizeof line, "file:       %s\nsize:       %u bytes\nsha256:     %s\n", t.path.c_str(),
           t.size, t.sha256.c_str());
  out += line;
  snprintf(line, sizeof line, "signature:  %s\n", t.signature.c_str());
  out += line;
  if (t.hasVersion) {
    snprintf(line, sizeof line, "version:    %s (record at offset %u)\n", VersionOf(t).c_str(),
             t.versionOffset);
  } else {
    snprintf(line, sizeof line, "version:    none (reads as 0.00.0000.00)\n");
  }
  out += line;
  snprintf(line, sizeof line, "images:     %u, in download order\n",
           static_cast<unsigned>(t.images.size()));
  out += line;
  out += "  #   offset      length      part  kind        sha256\n";
  for (size_t i = 0; i < t.images.size(); ++i) {
    const ImageEntry& im = t.images[i];
    snprintf(line, sizeof line, "  %-3u %-11u %-11u %s  %-10s  %s\n", static_cast<unsigned>(i),
             im.offset, im.length, Hex2(im.part).c_str(), PartName(im.part), im.sha256.c_str());
    out += line;
  }
  if (t.headers > kMaxImages) {
    snprintf(line, sizeof line, "warning:    %u image headers; only the first %u are downloaded\n",
             t.headers, kMaxImages);
    out += line;
  }
  if (t.rebooting) {
    snprintf(line, sizeof line,
             "path:       with rebooting: images #0 to #%u, reboot, version check, then the "
             "bootloader #%u\n",
             static_cast<unsigned>(t.images.size() - 2), static_cast<unsigned>(t.images.size() - 1));
  } else {
    snprintf(line, sizeof line, "path:       normal: every image in one download sequence\n");
  }
  out += line;
  return out;
}

std::string ImageTableJson(const ImageTable& t) {
  nlohmann::json images = nlohmann::json::array();
  for (const ImageEntry& im : t.images) {
    images.push_back({{"offset", im.offset},
                      {"length", im.length},
                      {"part", im.part},
                      {"kind", PartName(im.part)},
                      {"sha256", im.sha256}});
  }
  nlohmann::json j = {{"file", t.path},
                      {"size", t.size},
                      {"sha256", t.sha256},
                      {"signature", t.signature},
                      {"version", t.hasVersion ? nlohmann::json(VersionOf(t)) : nlohmann::json()},
                      {"images", images},
                      {"path", t.rebooting ? "rebooting" : "normal"}};
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

bool ReadFileVersion(const std::string& path, FW_VERSION* version) {
  uint32_t size = 0;
  uint8_t* buf = ReadWholeFile(path.c_str(), &size);
  if (buf == nullptr) return false;
  FW_SCAN scan;
  ScanFwBuffer(buf, size, my_cfg.signature, &scan, false);
  delete[] buf;
  if (!scan.hasVersion) return false;
  *version = {scan.hdrInfo.major, scan.hdrInfo.minor, scan.hdrInfo.build, scan.hdrInfo.revision};
  return true;
}
