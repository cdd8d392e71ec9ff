// Runs the fwimage tool: what it makes, tarnwick's parse reads back, and what
// it reports about a file matches whether tarnwick would download it.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "config/settings.h"
#include "image/fw_builder.h"
#include "image/fw_image.h"
#include "support/temp_dir.h"
#include "support/trace_capture.h"

namespace {

struct ToolRun {
  int code;
  std::string out;
};

class FwimageToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = temp_.path();
    saved_ = my_cfg;
    snprintf(my_cfg.signature, sizeof my_cfg.signature, "VRQ");
  }
  void TearDown() override {
    FreeFwFileBuffer();
    my_cfg = saved_;
  }
  std::string Path(const char* name) { return dir_ + "/" + name; }
  // Runs fwimage with `args` (shell words); stdout only.
  ToolRun Fwimage(const std::string& args) {
    std::string cmd = std::string(TARNWICK_FWIMAGE_PATH) + " " + args + " 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    ToolRun r{-1, ""};
    if (!p) return r;
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int status = pclose(p);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
  }
  std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
  }

  TempDir temp_{"twt-fwimage"};
  std::string dir_;
  FWDL_CFG saved_;
  TraceCapture trace_;
};

TEST_F(FwimageToolTest, MadeFileReadsBackInTarnwick) {
  std::string f = Path("fw_boot.bin");
  ToolRun make = Fwimage("make " + f +
                         " --image boot:500:random=9 --version 1.2.3.4 --version-at between"
                         " --image fw:1000");
  ASSERT_EQ(make.code, 0) << make.out;

  ParseFwFile(f.c_str());
  ASSERT_EQ(g_dwTotalFileSize, 528u + 8 + 1028);
  ASSERT_EQ(g_dwNumofImages, 2u);
  EXPECT_EQ(g_FwImages[0].offset, 536u);
  EXPECT_EQ(g_FwImages[0].part, kPartFirmware);
  EXPECT_EQ(g_FwImages[1].offset, 0u);
  EXPECT_EQ(g_FwImages[1].length, 528u);
  EXPECT_EQ(g_FwImages[1].part, kPartBootloader);
  EXPECT_EQ(g_FwHdrInfo.major, 1);
  EXPECT_EQ(g_FwHdrInfo.revision, 4);
  std::vector<uint8_t> body(500);
  FillBody(body.data(), 500, BodyKind::kRandom, 9);
  EXPECT_TRUE(std::equal(body.begin(), body.end(), g_FwImages[1].data + kFwFileHdrSize));

  ToolRun info = Fwimage("info " + f);
  EXPECT_EQ(info.code, 0) << info.out;
  EXPECT_NE(info.out.find("version:    1.02.0003.04 (record at offset 528)"), std::string::npos);
  EXPECT_NE(info.out.find("#0  offset 536        length 1028       part 0x06  firmware"),
            std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("#1  offset 0          length 528        part 0xFF  bootloader"),
            std::string::npos);
  EXPECT_NE(info.out.find("path:       with rebooting"), std::string::npos);
}

TEST_F(FwimageToolTest, InfoVerdicts) {
  struct Case {
    const char* make;
    const char* info;
    int code;
    const char* says;
  } cases[] = {
      {"--image fw:100 --image 01:10", "", 0,
       "path:       normal (images #0 to #1 in one sequence)"},
      {"--image boot:64K", "", 0, "path:       normal (image #0 in one sequence)"},
      {"--image fw:100 --truncate 1", "", 1, "runs past the end of the file"},
      {"--image fw:100 --version 1.0.0.0 --version-at before", "", 1,
       "does not begin with the signature"},
      {"--image fw:100", "--signature QQQ", 1, "problem:    no images"},
      {"--image fw:100 --signature abcdefgh", "--signature ABCDEFGH", 0, "part 0x06"},
      {"--image fw:100", "--signature ''", 1, "must have 1 to 8 characters"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.make);
    std::string f = Path("case.bin");
    ASSERT_EQ(Fwimage("make " + f + " " + c.make).code, 0);
    ToolRun info = Fwimage("info " + f + " " + c.info);
    EXPECT_EQ(info.code, c.code) << info.out;
    EXPECT_NE(info.out.find(c.says), std::string::npos) << info.out;
  }

  std::string many;
  for (int i = 0; i < 17; ++i) many += " --image 01:1";
  ASSERT_EQ(Fwimage("make " + Path("many.bin") + many).code, 0);
  ToolRun info = Fwimage("info " + Path("many.bin"));
  EXPECT_EQ(info.code, 0);
  EXPECT_NE(info.out.find("warning:    17 image headers; only the first 16"), std::string::npos);

  EXPECT_EQ(Fwimage("info " + Path("missing.bin")).code, 1);
}

TEST_F(FwimageToolTest, UsageErrors) {
  std::string f = Path("x.bin");
  for (const char* args : {"", "bogus", "make OUT", "make OUT --image 06:1x",
                           "make OUT --image fw:1 --version 1.2.3.256",
                           "make OUT --image fw:1 --version 1.2.3.4 --version-at between"}) {
    SCOPED_TRACE(args);
    std::string a = args;
    size_t at = a.find("OUT");
    if (at != std::string::npos) a.replace(at, 3, f);
    EXPECT_EQ(Fwimage(a).code, 2);
  }
  EXPECT_NE(access(f.c_str(), F_OK), 0);
  ToolRun help = Fwimage("--help");
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("fwimage make OUT"), std::string::npos);
}

}  // namespace
