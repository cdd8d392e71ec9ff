// A file replaced between the checks and the download: with the file held
// once, the checks, the digest, the version record and the parse all see the
// bytes of the one read.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/cli/cli_setup.h"
#include "app/cli/image_table.h"
#include "config/settings.h"
#include "image/fw_image.h"
#include "platform/files.h"
#include "platform/sha256.h"
#include "support/download_peer.h"
#include "support/temp_file.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

TEST(OneReadTest, EveryStepSeesTheBytesOfTheOneRead) {
  snprintf(my_cfg.signature, sizeof my_cfg.signature, "VRQ");
  const std::string first = MakeImage(0x06, 600, 1) + MakeVersionRecord(0, 3, 0, 7);
  const std::string second = MakeImage(0x06, 900, 2) + MakeImage(0xFF, 300, 3) +
                             MakeVersionRecord(0, 4, 0, 1);
  TempFile file(Bytes(first));
  const std::string digest = Sha256Hex(reinterpret_cast<const uint8_t*>(first.data()), first.size());

  FileSnapshot snapshot;
  ASSERT_TRUE(snapshot.Take(file.path()));
  ScopedFileBackend held(&snapshot);
  // A depot sync replaces the file after the one read.
  file.Write(Bytes(second));

  std::string error;
  EXPECT_TRUE(CheckImageFile(file.path(), &error)) << error;
  EXPECT_TRUE(CheckFileDigest(file.path(), digest, &error)) << error;
  FW_VERSION version{};
  ASSERT_TRUE(ReadFileVersion(file.path(), &version));
  EXPECT_EQ(version.minor, 3u);
  ParseFwFile(file.path());
  EXPECT_EQ(g_dwNumofImages, 1u);
  EXPECT_EQ(g_dwTotalFileSize, first.size());
  const uint8_t* data = nullptr;
  uint32_t size = 0;
  ASSERT_TRUE(FwFileBytes(&data, &size));
  EXPECT_EQ(Sha256Hex(data, size), digest);
  FreeFwFileBuffer();
}

}  // namespace
