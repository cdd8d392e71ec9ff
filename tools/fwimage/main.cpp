// fwimage: inspect and make firmware image files.
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/trace.h"
#include "tarnwick_version.h"
#include "tools/fwimage/fwimage.h"

const char kFwimageUsage[] =
    "usage:\n"
    "  fwimage info FILE [--signature SIG] [--verbose]\n"
    "  fwimage make OUT --image PART:SIZE[:pattern|:random=SEED] [--image ...]\n"
    "               [--version A.B.C.D] [--version-at before|between|after]\n"
    "               [--signature SIG] [--truncate N] [--verbose]\n"
    "  fwimage --help | --version\n"
    "\n"
    "info  shows what tarnwick sees in FILE: each image in download order (index,\n"
    "      offset, length with its 28-byte header, part), the version record, the\n"
    "      size, any problem, and the download path (normal, or with rebooting\n"
    "      when the file holds firmware and bootloader). Exit 0 if tarnwick would\n"
    "      download the file, 1 if not, 2 on a usage error.\n"
    "make  writes OUT with one image per --image, in the order given.\n"
    "      PART    fw (0x06), boot (0xFF), or a hex byte such as 01 or 0x01\n"
    "      SIZE    body bytes after the header; K and M suffixes mean KiB, MiB\n"
    "      pattern body byte i is i mod 251 (the default)\n"
    "      random=SEED  pseudo-random body, the same for the same SEED everywhere\n"
    "      --version A.B.C.D  add a version record (each number 0 to 255)\n"
    "      --version-at       before the first image, between the first and the\n"
    "                         second, or after the last (default)\n"
    "      --truncate N       cut the last N bytes off, making a damaged file\n"
    "\n"
    "--signature  the image signature, 1 to 8 characters (default VRQ, as in\n"
    "             fwdl.ini); info compares it ignoring letter case.\n"
    "--verbose    also print tarnwick's own trace of the scan on stderr.\n";

namespace {

void PrintTrace(const char* text) {
  size_t n = strlen(text);
  fputs(text, stderr);
  if (n == 0 || text[n - 1] != '\n') fputc('\n', stderr);
}

void DropTrace(const char*) {}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args;
  bool verbose = false;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--verbose") == 0) {
      verbose = true;
    } else {
      args.push_back(argv[i]);
    }
  }
  SetTraceHook(verbose ? &PrintTrace : &DropTrace);

  if (args.empty()) {
    fputs(kFwimageUsage, stderr);
    return kExitUsage;
  }
  const char* cmd = args[0];
  if (strcmp(cmd, "--help") == 0 || strcmp(cmd, "-h") == 0 || strcmp(cmd, "help") == 0) {
    fputs(kFwimageUsage, stdout);
    return kExitOk;
  }
  // Alone, --version is the program's version; after "make" it is the image's.
  if (strcmp(cmd, "--version") == 0) {
    printf("fwimage %s\n", TARNWICK_VERSION_TEXT);
    return kExitOk;
  }
  int n = static_cast<int>(args.size());
  if (strcmp(cmd, "info") == 0) return RunInfo(n, args.data());
  if (strcmp(cmd, "make") == 0) return RunMake(n, args.data());
  fprintf(stderr, "fwimage: unknown command \"%s\"\n\n%s", cmd, kFwimageUsage);
  return kExitUsage;
}
