// One image between entering and leaving download mode: blocks, offsets,
// progress credits, stop requests and failures.
#include "protocol/single_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "expander_peer.h"
#include "image/fw_image.h"
#include "support/temp_dir.h"

namespace {

class SingleImageTest : public ProtocolTest {
 protected:
  SingleImageTest() {
    dir_ = temp_.path();
    g_dwTotalFileSize = 4096;
  }
  // An image file of `size` bytes with a recognisable pattern.
  std::string MakeImage(size_t size) {
    image_.resize(size);
    for (size_t i = 0; i < size; ++i) image_[i] = static_cast<uint8_t>(i * 13 + i / 256);
    std::string path = (dir_ / ("img" + std::to_string(size) + ".bin")).string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(image_.data()), static_cast<std::streamsize>(size));
    return path;
  }
  std::vector<uint8_t> image_;
  TempDir temp_{"tarnwick-img"};
  std::filesystem::path dir_;
};

}  // namespace

TEST_F(SingleImageTest, BlocksOffsetsAndCredits) {
  struct Case {
    size_t size;
    std::vector<std::pair<uint32_t, uint32_t>> blocks;  // offset, length
  };
  const Case cases[] = {
      {600, {{0, 256}, {256, 256}, {512, 88}}},
      {256, {{0, 256}}},
      {257, {{0, 256}, {256, 1}}},
      {0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    peer.lines.clear();
    g_dwBytesSent = 0;
    std::string path = MakeImage(c.size);
    int64_t start = nowMs();
    EXPECT_TRUE(fmdl_downloadEx(path.c_str()));
    auto lines = peer.dataLines();
    ASSERT_EQ(lines.size(), c.blocks.size());
    uint32_t credited = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
      uint32_t off = c.blocks[i].first, len = c.blocks[i].second;
      EXPECT_EQ(lines[i].offset(), off);
      EXPECT_EQ(std::vector<uint8_t>(lines[i].bytes.begin() + 8, lines[i].bytes.end()),
                std::vector<uint8_t>(image_.begin() + off, image_.begin() + off + len));
      credited += len;
      EXPECT_EQ(lines[i].creditedAtStart, credited);  // credited before it is sent
    }
    EXPECT_EQ(g_dwBytesSent.load(), c.size + 256);
    EXPECT_EQ(nowMs() - start, 200);
  }
}

TEST_F(SingleImageTest, StopBeforeTheFirstBlock) {
  std::string path = MakeImage(600);
  g_bStopDl = 1;
  int64_t start = nowMs();
  EXPECT_FALSE(fmdl_downloadEx(path.c_str()));
  EXPECT_TRUE(exp().writes().empty());
  EXPECT_EQ(g_dwBytesSent.load(), 0u);
  EXPECT_EQ(nowMs() - start, 200);
  exitdownloadmode();
  EXPECT_TRUE(exp().writes().empty());
}

// A stop request that arrives while the last block awaits its status still
// fails the image, without the error traces of a rejected block.
TEST_F(SingleImageTest, StopDuringTheLastBlock) {
  std::string path = MakeImage(600);
  peer.status = [](const WireLine& l) {
    if (l.offset() == 512) g_bStopDl = 1;
    return l.offset() == 512 ? "" : "@0";
  };
  EXPECT_FALSE(fmdl_downloadEx(path.c_str()));
  EXPECT_EQ(peer.pattern(), "DDD");
  EXPECT_EQ(g_dwBytesSent.load(), 600u);
  EXPECT_FALSE(trace.Contains("Download firmware error"));
}

TEST_F(SingleImageTest, FailedBlockEndsTheImage) {
  std::string path = MakeImage(1000);
  my_cfg.dlretry = 2;
  peer.status = [](const WireLine& l) { return l.offset() == 512 ? "@7" : "@0"; };
  EXPECT_FALSE(fmdl_downloadEx(path.c_str()));
  EXPECT_EQ(peer.pattern(), "DDDRDR");
  EXPECT_TRUE(trace.Has("Download firmware error, offset=512 bytes\n"));
  EXPECT_TRUE(trace.Has("fmdl_downloadEx(bret=flase)"));
  EXPECT_EQ(g_dwBytesSent.load(), 768u);

  peer.lines.clear();
  peer.status = [](const WireLine&) { return ""; };
  exitdownloadmode();
  EXPECT_EQ(peer.pattern(), "TR");
}

TEST_F(SingleImageTest, UnreadableFile) {
  int64_t start = nowMs();
  EXPECT_FALSE(fmdl_downloadEx((dir_ / "missing.bin").string().c_str()));
  EXPECT_TRUE(exp().writes().empty());
  EXPECT_EQ(nowMs(), start);
  EXPECT_TRUE(trace.Has("data_buffer == NULL"));
}

TEST_F(SingleImageTest, EnterDownloadMode) {
  g_bExitingDlMode = 1;
  exp().SetResponder(nullptr);
  const char* cmd1 = "wm32 -m 0xa8200094 -v 0x5b7d2e94";
  const char* cmd2 = "donz 0x06 17 1";
  int64_t start = nowMs();
  enterdownloadmode();
  EXPECT_EQ(g_bExitingDlMode.load(), 0u);
  EXPECT_EQ(exp().written(), std::string(cmd1) + "\n\n\n" + cmd2 + "\n\n\n");
  // 100 ms around each command; each command costs 10 ms a byte and 500 ms.
  EXPECT_EQ(nowMs() - start, static_cast<int64_t>(300 + (strlen(cmd1) + strlen(cmd2)) * 10 + 1000));
}
