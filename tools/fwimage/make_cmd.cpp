// fwimage make: writes an image file from a list of images.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image/fw_builder.h"
#include "image/fw_image.h"
#include "image/fw_scan.h"
#include "tools/fwimage/fwimage.h"

namespace {

// Keeps made files well inside the 32-bit sizes tarnwick works with.
constexpr uint64_t kMaxFileBytes = 1ull << 30;

struct ImageArg {
  uint8_t part;
  uint32_t bodyLen;
  BodyKind kind;
  uint32_t seed;
};

enum class VersionAt { kBefore, kBetween, kAfter };

struct MakeOptions {
  const char* out = nullptr;
  const char* signature = "VRQ";
  bool hasVersion = false;
  uint8_t version[4] = {0, 0, 0, 0};
  VersionAt versionAt = VersionAt::kAfter;
  uint32_t truncate = 0;
  std::vector<ImageArg> images;
};

// Unsigned number in decimal, or hex with 0x; false on anything else.
bool ParseNumber(const std::string& text, uint64_t* value, int base = 0) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = strtoull(text.c_str(), &end, base);
  if (errno != 0 || *end != '\0') return false;
  *value = v;
  return true;
}

bool ParsePart(const std::string& text, uint8_t* part) {
  if (text == "fw" || text == "firmware") {
    *part = kPartFirmware;
    return true;
  }
  if (text == "boot" || text == "bootloader") {
    *part = kPartBootloader;
    return true;
  }
  uint64_t v = 0;
  if (!ParseNumber(text, &v, 16) || v > 0xFF) return false;
  *part = static_cast<uint8_t>(v);
  return true;
}

bool ParseSize(std::string text, uint32_t* size) {
  uint64_t mult = 1;
  if (!text.empty() && (text.back() == 'K' || text.back() == 'k')) mult = 1024;
  if (!text.empty() && (text.back() == 'M' || text.back() == 'm')) mult = 1024 * 1024;
  if (mult != 1) text.pop_back();
  uint64_t v = 0;
  if (!ParseNumber(text, &v, 10) || v > kMaxFileBytes / mult) return false;
  *size = static_cast<uint32_t>(v * mult);
  return true;
}

// PART:SIZE[:pattern|:random=SEED]
bool ParseImage(const std::string& text, ImageArg* arg) {
  size_t c1 = text.find(':');
  if (c1 == std::string::npos) return false;
  size_t c2 = text.find(':', c1 + 1);
  std::string size = text.substr(c1 + 1, c2 == std::string::npos ? std::string::npos : c2 - c1 - 1);
  if (!ParsePart(text.substr(0, c1), &arg->part) || !ParseSize(size, &arg->bodyLen)) return false;
  arg->kind = BodyKind::kPattern;
  arg->seed = 0;
  if (c2 == std::string::npos) return true;
  std::string body = text.substr(c2 + 1);
  if (body == "pattern") return true;
  if (body.compare(0, 7, "random=") != 0) return false;
  uint64_t seed = 0;
  if (!ParseNumber(body.substr(7), &seed) || seed > 0xFFFFFFFFull) return false;
  arg->kind = BodyKind::kRandom;
  arg->seed = static_cast<uint32_t>(seed);
  return true;
}

bool ParseVersion(const char* text, uint8_t out[4]) {
  unsigned v[4];
  char tail;
  if (sscanf(text, "%u.%u.%u.%u%c", &v[0], &v[1], &v[2], &v[3], &tail) != 4) return false;
  for (int i = 0; i < 4; ++i) {
    if (v[i] > 255) return false;
    out[i] = static_cast<uint8_t>(v[i]);
  }
  return true;
}

// Fills `o`; on a bad argument prints why and returns false.
bool ParseMakeArgs(int argc, char** argv, MakeOptions* o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    bool hasValue = i + 1 < argc;
    if (a == "--image" && hasValue) {
      ImageArg arg;
      if (!ParseImage(argv[++i], &arg)) {
        fprintf(stderr, "fwimage make: bad --image \"%s\" (PART:SIZE[:pattern|:random=SEED])\n",
                argv[i]);
        return false;
      }
      o->images.push_back(arg);
    } else if (a == "--version" && hasValue) {
      if (!ParseVersion(argv[++i], o->version)) {
        fprintf(stderr, "fwimage make: bad --version \"%s\" (A.B.C.D, each 0 to 255)\n", argv[i]);
        return false;
      }
      o->hasVersion = true;
    } else if (a == "--version-at" && hasValue) {
      std::string at = argv[++i];
      if (at == "before") {
        o->versionAt = VersionAt::kBefore;
      } else if (at == "between") {
        o->versionAt = VersionAt::kBetween;
      } else if (at == "after") {
        o->versionAt = VersionAt::kAfter;
      } else {
        fprintf(stderr, "fwimage make: --version-at takes before, between or after\n");
        return false;
      }
    } else if (a == "--signature" && hasValue) {
      o->signature = argv[++i];
    } else if (a == "--truncate" && hasValue) {
      uint64_t n = 0;
      if (!ParseNumber(argv[++i], &n, 10) || n > kMaxFileBytes) {
        fprintf(stderr, "fwimage make: bad --truncate \"%s\"\n", argv[i]);
        return false;
      }
      o->truncate = static_cast<uint32_t>(n);
    } else if (a[0] != '-' && !o->out) {
      o->out = argv[i];
    } else {
      fprintf(stderr, "fwimage make: unexpected argument \"%s\"\n", argv[i]);
      return false;
    }
  }
  if (!o->out || o->images.empty()) {
    fprintf(stderr, "fwimage make: an output file and at least one --image are needed\n");
    return false;
  }
  if (!IsUsableSignature(o->signature)) {
    fprintf(stderr, "fwimage make: the signature must have 1 to 8 characters\n");
    return false;
  }
  if (o->hasVersion && o->versionAt == VersionAt::kBetween && o->images.size() < 2) {
    fprintf(stderr, "fwimage make: --version-at between needs at least two images\n");
    return false;
  }
  uint64_t total = o->hasVersion ? sizeof(FW_HDR_INFO) : 0;
  for (const ImageArg& s : o->images) total += kFwFileHdrSize + uint64_t{s.bodyLen};
  if (total > kMaxFileBytes) {
    fprintf(stderr, "fwimage make: the file would exceed 1 GiB\n");
    return false;
  }
  if (o->truncate > total) {
    fprintf(stderr, "fwimage make: --truncate %u is more than the file's %llu bytes\n", o->truncate,
            static_cast<unsigned long long>(total));
    return false;
  }
  return true;
}

std::vector<uint8_t> BuildFile(const MakeOptions& o) {
  std::vector<uint8_t> file;
  auto version = [&] {
    AppendVersionRecord(&file, o.version[0], o.version[1], o.version[2], o.version[3]);
  };
  if (o.hasVersion && o.versionAt == VersionAt::kBefore) version();
  for (size_t i = 0; i < o.images.size(); ++i) {
    const ImageArg& s = o.images[i];
    AppendImage(&file, o.signature, s.part, s.bodyLen, s.kind, s.seed);
    if (i == 0 && o.hasVersion && o.versionAt == VersionAt::kBetween) version();
  }
  if (o.hasVersion && o.versionAt == VersionAt::kAfter) version();
  file.resize(file.size() - o.truncate);
  return file;
}

}  // namespace

int RunMake(int argc, char** argv) {
  MakeOptions o;
  if (!ParseMakeArgs(argc, argv, &o)) {
    fprintf(stderr, "\n%s", kFwimageUsage);
    return kExitUsage;
  }
  std::vector<uint8_t> file = BuildFile(o);
  FILE* f = fopen(o.out, "wb");
  bool ok = f && fwrite(file.data(), 1, file.size(), f) == file.size();
  if (f && fclose(f) != 0) ok = false;
  if (!ok) {
    fprintf(stderr, "fwimage make: cannot write %s: %s\n", o.out, strerror(errno));
    return kExitRefused;
  }
  printf("%s: %zu bytes, %zu image(s)%s\n", o.out, file.size(), o.images.size(),
         o.hasVersion ? ", version record" : "");
  return kExitOk;
}
