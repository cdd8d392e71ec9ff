// fwimage info: what tarnwick sees in an image file.
#include <cstdio>
#include <cstring>

#include "config/settings.h"
#include "image/fw_image.h"
#include "image/fw_scan.h"
#include "tools/fwimage/fwimage.h"

namespace {

void PrintImages(const FW_SCAN& scan) {
  printf("images:     %u (in download order)\n", scan.numImages);
  for (uint32_t i = 0; i < scan.numImages; ++i) {
    const FW_IMAGE& img = scan.images[i];
    printf("  #%-2u offset %-10u length %-10u part 0x%02X  %s\n", i, img.offset, img.length,
           img.part, PartName(img.part));
  }
}

// Prints the path the download procedure takes; false if there is nothing to send.
bool PrintPath(const FW_SCAN& scan) {
  if (scan.numImages == 0) {
    printf("path:       none (no images to download)\n");
    return false;
  }
  const bool rebooting =
      ChooseDownloadPlan(scan.images, scan.numImages) == DownloadPlan::kWithRebooting;
  char first[32];
  uint32_t lastFirst = rebooting ? scan.numImages - 2 : scan.numImages - 1;
  if (lastFirst == 0) {
    snprintf(first, sizeof first, "image #0");
  } else {
    snprintf(first, sizeof first, "images #0 to #%u", lastFirst);
  }
  if (rebooting) {
    printf("path:       with rebooting (%s, reboot, version check, then bootloader #%u)\n", first,
           scan.numImages - 1);
  } else {
    printf("path:       normal (%s in one sequence)\n", first);
  }
  return true;
}

}  // namespace

int RunInfo(int argc, char** argv) {
  const char* path = nullptr;
  const char* signature = "VRQ";
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--signature") == 0 && i + 1 < argc) {
      signature = argv[++i];
    } else if (argv[i][0] != '-' && !path) {
      path = argv[i];
    } else {
      fprintf(stderr, "fwimage info: unexpected argument \"%s\"\n\n%s", argv[i], kFwimageUsage);
      return kExitUsage;
    }
  }
  if (!path) {
    fprintf(stderr, "fwimage info: no file given\n\n%s", kFwimageUsage);
    return kExitUsage;
  }
  snprintf(my_cfg.signature, sizeof my_cfg.signature, "%s", signature);

  uint32_t size = 0;
  uint8_t* buf = ReadWholeFile(path, &size);
  printf("file:       %s\n", path);
  if (!buf) {
    printf("problem:    the file cannot be read\n");
    printf("result:     tarnwick refuses this file\n");
    return kExitRefused;
  }
  bool ok = true;
  bool usable = IsUsableSignature(signature);
  bool begins = IsImageFile(path);
  printf("size:       %u bytes\n", size);
  printf("signature:  %s (file begins with it: %s)\n", signature, begins ? "yes" : "no");

  FW_SCAN scan;
  ScanFwBuffer(buf, size, signature, &scan);
  PutBootLoaderLast(scan.images, scan.numImages);

  if (scan.hasVersion) {
    // Written as the dialog writes versions, so the two can be compared.
    printf("version:    %s (record at offset %u)\n",
           VersionNumbersText(scan.hdrInfo.major, scan.hdrInfo.minor, scan.hdrInfo.build,
                              scan.hdrInfo.revision)
               .c_str(),
           scan.versionOffset);
  } else {
    printf("version:    none (reads as 0.00.0000.00)\n");
  }
  PrintImages(scan);

  if (!usable) {
    printf("problem:    the signature must have 1 to 8 characters\n");
    ok = false;
  } else if (!begins) {
    printf("problem:    the file does not begin with the signature; the dialog refuses it\n");
    ok = false;
  }
  if (scan.truncated) {
    printf(
        "problem:    the image at offset %u (body %u bytes) runs past the end of the file;"
        " the file is refused\n",
        scan.truncatedOffset, scan.truncatedFwLen);
    ok = false;
  } else if (scan.numHeaders > kMaxImages) {
    printf("warning:    %u image headers; only the first %u are downloaded\n", scan.numHeaders,
           kMaxImages);
  }
  if (scan.numImages == 0 && !scan.truncated && usable) printf("problem:    no images\n");
  if (!PrintPath(scan)) ok = false;
  printf("result:     %s\n", ok ? "tarnwick downloads this file" : "tarnwick refuses this file");
  delete[] buf;
  return ok ? kExitOk : kExitRefused;
}
