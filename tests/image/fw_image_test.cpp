#include "image/fw_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "config/settings.h"
#include "image/fw_builder.h"
#include "support/recording_report.h"
#include "support/temp_file.h"
#include "support/trace_capture.h"
#include "support/virtual_clock.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Image(uint8_t part, uint32_t bodyLen, const char* sig = "VRQ") {
  Bytes b;
  AppendImage(&b, sig, part, bodyLen);
  return b;
}
Bytes Version(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  Bytes out;
  AppendVersionRecord(&out, a, b, c, d);
  return out;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The 1564-byte file: firmware (1000-byte body) at 0, version 1.2.3.4 at 1028,
// bootloader (500-byte body) at 1036.
Bytes ExampleFile() { return Cat({Image(0x06, 1000), Version(1, 2, 3, 4), Image(0xFF, 500)}); }

// "(offset,length,part)" for each entry in use.
std::string TableText() {
  std::string s;
  char buf[64];
  for (uint32_t i = 0; i < g_dwNumofImages; ++i) {
    snprintf(buf, sizeof buf, "(%u,%u,0x%02X)", g_FwImages[i].offset, g_FwImages[i].length,
             g_FwImages[i].part);
    s += buf;
  }
  return s;
}

std::string VersionText() {
  char buf[32];
  snprintf(buf, sizeof buf, "%d.%d.%d.%d", g_FwHdrInfo.major, g_FwHdrInfo.minor, g_FwHdrInfo.build,
           g_FwHdrInfo.revision);
  return buf;
}

class FwImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = my_cfg;
    snprintf(my_cfg.signature, sizeof my_cfg.signature, "VRQ");
  }
  void TearDown() override {
    FreeFwFileBuffer();
    my_cfg = saved_;
  }
  // Parses `bytes` from a temporary file; returns TableText().
  std::string Parse(const Bytes& bytes) {
    TempFile f(bytes);
    ParseFwFile(f.path());
    return TableText();
  }

  FWDL_CFG saved_;
  ScopedVirtualClock clock_;
  TraceCapture trace_;
  RecordingReport report_;
};

// The builder's layout, pinned byte by byte: every other test relies on it.
TEST_F(FwImageTest, ExampleFileLayout) {
  Bytes f = ExampleFile();
  ASSERT_EQ(f.size(), 1564u);
  auto at = [&f](size_t off, size_t n) { return Bytes(f.begin() + off, f.begin() + off + n); };
  EXPECT_EQ(at(0, 3), (Bytes{'V', 'R', 'Q'}));
  EXPECT_EQ(at(10, 1), Bytes{0x06});
  EXPECT_EQ(at(16, 4), (Bytes{0x00, 0x00, 0x03, 0xE8}));
  EXPECT_EQ(at(1028, 8), (Bytes{0x34, 0x12, 0xCD, 0xAB, 1, 2, 3, 4}));
  EXPECT_EQ(at(1036 + 10, 1), Bytes{0xFF});
  EXPECT_EQ(at(1036 + 16, 4), (Bytes{0x00, 0x00, 0x01, 0xF4}));

  EXPECT_EQ(Parse(f), "(0,1028,0x06)(1036,528,0xFF)");
  EXPECT_EQ(g_dwTotalFileSize, 1564u);
  EXPECT_EQ(VersionText(), "1.2.3.4");
  // Each entry points at its own bytes of the file.
  for (uint32_t i = 0; i < g_dwNumofImages; ++i) {
    ASSERT_NE(g_FwImages[i].data, nullptr);
    EXPECT_EQ(memcmp(g_FwImages[i].data, f.data() + g_FwImages[i].offset, g_FwImages[i].length), 0);
  }
}

struct LayoutCase {
  const char* name;
  Bytes (*build)();
  const char* table;
  const char* version;
};

const LayoutCase kLayouts[] = {
    {"one firmware image", [] { return Image(0x06, 100); }, "(0,128,0x06)", "0.0.0.0"},
    {"lower-case signature",
     [] {
       return Cat({Image(0x06, 1000, "vrq"), Version(1, 2, 3, 4), Image(0xFF, 500, "VrQ")});
     },
     "(0,1028,0x06)(1036,528,0xFF)", "1.2.3.4"},
    {"version record before the image",
     [] {
       return Cat({Version(9, 8, 7, 6), Image(0x06, 10)});
     },
     "(8,38,0x06)", "9.8.7.6"},
    {"later of two version records wins",
     [] {
       return Cat({Image(0x06, 10), Version(1, 1, 1, 1), Image(0x01, 10), Version(2, 3, 4, 5)});
     },
     "(0,38,0x06)(46,38,0x01)", "2.3.4.5"},
    {"stray bytes between images are skipped",
     [] {
       return Cat({Image(0x06, 20), Bytes{0x00, 'V', 'R', 0x12, 0xCD}, Image(0x01, 5)});
     },
     "(0,48,0x06)(53,33,0x01)", "0.0.0.0"},
    {"header and record inside a body are not examined",
     [] {
       Bytes inner = Cat({Version(7, 7, 7, 7), Image(0xFF, 4)});
       Bytes outer = Image(0x06, static_cast<uint32_t>(inner.size()));
       std::copy(inner.begin(), inner.end(), outer.begin() + 28);
       return Cat({outer, Image(0x01, 3)});
     },
     "(0,68,0x06)(68,31,0x01)", "0.0.0.0"},
    {"bootloader first goes last",
     [] {
       return Cat({Image(0xFF, 1), Image(0x06, 2), Image(0x01, 3)});
     },
     "(59,31,0x01)(29,30,0x06)(0,29,0xFF)", "0.0.0.0"},
    {"bootloader in the middle goes last",
     [] {
       return Cat({Image(0x06, 1), Image(0xFF, 2), Image(0x01, 3)});
     },
     "(0,29,0x06)(59,31,0x01)(29,30,0xFF)", "0.0.0.0"},
    {"bootloader already last stays",
     [] {
       return Cat({Image(0x06, 1), Image(0x01, 2), Image(0xFF, 3)});
     },
     "(0,29,0x06)(29,30,0x01)(59,31,0xFF)", "0.0.0.0"},
    {"empty file", [] { return Bytes{}; }, "", "0.0.0.0"},
    {"no header at all", [] { return Bytes(300, 0x56); }, "", "0.0.0.0"},
};

TEST_F(FwImageTest, ScanLayouts) {
  for (const LayoutCase& c : kLayouts) {
    SCOPED_TRACE(c.name);
    Bytes bytes = c.build();
    EXPECT_EQ(Parse(bytes), c.table);
    EXPECT_EQ(g_dwTotalFileSize, bytes.size());
    EXPECT_EQ(VersionText(), c.version);
    FreeFwFileBuffer();
  }
}

// Sixteen images fill the table; a seventeenth would be dropped (a bootloader
// among them) while the rest went out as if they were the whole file, so such
// a file is refused as a whole.
TEST_F(FwImageTest, MoreImagesThanTheTableRefuseTheFile) {
  for (int count : {16, 18}) {
    SCOPED_TRACE(count);
    Bytes bytes;
    for (int i = 0; i < count; ++i) AppendImage(&bytes, "VRQ", static_cast<uint8_t>(i), 2);
    AppendVersionRecord(&bytes, 3, 3, 3, 3);
    trace_.Clear();
    Parse(bytes);
    EXPECT_EQ(VersionText(), "3.3.3.3");  // images past the table are still stepped over whole
    if (count == 16) {
      ASSERT_EQ(g_dwNumofImages, 16u);
      EXPECT_EQ(g_FwImages[15].offset, 15u * 30);
      continue;
    }
    EXPECT_EQ(g_dwNumofImages, 0u);
    EXPECT_TRUE(trace_.Contains("image at offset 510 not stored"));
    EXPECT_TRUE(trace_.Contains("ParseFwFile: 18 images, more than the 16 the table holds"));
  }
}

// The trace lines are what field support reads; the parse also restarts the
// progress display.
TEST_F(FwImageTest, ParseTracesAndResetsProgress) {
  g_bBootLoaderInProgress = 1;
  g_dwBytesSent = 777;
  clock_.clock().AdvanceMs(42000);
  Parse(Image(0x06, 100));
  const std::vector<std::string> expected = {"g_dwTotalFileSize= 128",
                                             "sizeof(FW_FILE_HDR)=28 bytes",
                                             "0, 0, 0, 64",
                                             "dwBytesToProcess=0",
                                             "dwFwLen=100(0x64)",
                                             "hdr->dstpart=0x6",
                                             "g_dwTotalFileSize= 128",
                                             "g_dwNumofImages=1",
                                             "File #0: offset=0, len=128, part=0x6"};
  EXPECT_EQ(trace_.lines(), expected);
  EXPECT_EQ(g_bBootLoaderInProgress.load(), 0u);
  EXPECT_EQ(g_dwBytesSent.load(), 0u);
  EXPECT_EQ(g_dlStartTime.load(), clock_.clock().NowSeconds());
}

TEST_F(FwImageTest, ReparseReplacesTheTableAndFreeClearsPointers) {
  ASSERT_EQ(Parse(ExampleFile()), "(0,1028,0x06)(1036,528,0xFF)");
  EXPECT_EQ(Parse(Bytes(10, 0)), "");
  EXPECT_EQ(VersionText(), "0.0.0.0");
  Parse(Image(0x06, 1));
  FreeFwFileBuffer();
  EXPECT_EQ(g_FwImages[0].data, nullptr);
}

// An image whose length runs past the end of the file refuses the whole file,
// so nothing short is ever sent as if whole.
TEST_F(FwImageTest, ImagePastTheEndRefusesTheFile) {
  auto cut = [](Bytes b, size_t n) {
    b.resize(b.size() - n);
    return b;
  };
  Bytes wrap = Cat({Image(0x06, 0), Image(0x01, 8)});
  wrap[16] = wrap[17] = wrap[18] = 0xFF;  // 0xFFFFFFF0 + 28 wraps to 12 in 32 bits
  wrap[19] = 0xF0;
  struct Case {
    const char* name;
    Bytes bytes;
    const char* traced;
  } cases[] = {
      {"body one byte short", cut(Image(0x06, 100), 1), "image at offset 0 (dwFwLen=100)"},
      {"second image short", cut(Cat({Image(0x06, 10), Version(1, 2, 3, 4), Image(0xFF, 50)}), 7),
       "image at offset 46 (dwFwLen=50)"},
      {"header cut by the end", cut(Image(0x06, 0), 10), "image at offset 0 (dwFwLen=0)"},
      {"length that wraps 32 bits", wrap, "image at offset 0 (dwFwLen=4294967280)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    trace_.Clear();
    Parse(c.bytes);
    EXPECT_EQ(g_dwNumofImages, 0u);
    EXPECT_TRUE(trace_.Contains(c.traced)) << "trace lacks: " << c.traced;
    EXPECT_TRUE(report_.boxes().empty());
    FreeFwFileBuffer();
  }
}

TEST_F(FwImageTest, UnusableSignatureMatchesNothing) {
  Bytes bytes = Cat({Image(0x06, 10, "ABCDEFGH"), Image(0x01, 10, "ABCDEFGH")});
  TempFile f(bytes);
  // Eight characters is the longest that works.
  snprintf(my_cfg.signature, sizeof my_cfg.signature, "abcdefgh");
  EXPECT_TRUE(IsImageFile(f.path()));
  ParseFwFile(f.path());
  EXPECT_EQ(g_dwNumofImages, 2u);
  // Nine characters: the header holds only eight, so nothing may match.
  bytes[8] = 'I';
  bytes[9] = 'J';
  f.Write(bytes);
  for (const char* sig : {"ABCDEFGHI", ""}) {
    SCOPED_TRACE(sig);
    snprintf(my_cfg.signature, sizeof my_cfg.signature, "%s", sig);
    trace_.Clear();
    EXPECT_FALSE(IsImageFile(f.path()));
    ParseFwFile(f.path());
    EXPECT_EQ(g_dwNumofImages, 0u);
    EXPECT_TRUE(trace_.Contains("must have 1 to 8 characters"));
    EXPECT_FALSE(IsImageHeader(bytes.data()));
  }
}

// Creates a sparse file of `size` bytes; false where the file system cannot.
bool MakeSparse(const char* path, uint64_t size) {
  std::error_code ec;
  std::filesystem::resize_file(path, size, ec);
  return !ec && std::filesystem::file_size(path, ec) == size && !ec;
}

// Sizes whose buffer slack would wrap 32 bits, or that do not fit 32 bits at
// all, are an allocation failure: never a short buffer, never a partial read.
TEST_F(FwImageTest, HugeFileIsAnAllocationFailure) {
  for (uint64_t size : {uint64_t{0xFFFFFFFFu} - 100, (uint64_t{1} << 32) + 100}) {
    SCOPED_TRACE(size);
    TempFile f;
    if (!MakeSparse(f.path(), size)) GTEST_SKIP() << "no sparse files here";
    report_.Clear();
    ParseFwFile(f.path());
    EXPECT_EQ(g_dwTotalFileSize, static_cast<uint32_t>(size));
    EXPECT_EQ(g_dwNumofImages, 0u);
    EXPECT_EQ(report_.boxes(), std::vector<std::string>{"Error: Unable to allocate memory to read file!"});

    trace_.Clear();
    uint32_t got = 1;
    EXPECT_EQ(ReadWholeFile(f.path(), &got), nullptr);
    EXPECT_TRUE(trace_.Has(std::string("Error, unable to allocate memory to read file ") +
                           f.path() + "\n"));
  }
}

TEST_F(FwImageTest, IsImageFileCases) {
  struct Case {
    const char* name;
    Bytes bytes;
    bool expected;
  } cases[] = {
      {"whole image", Image(0x06, 4), true},
      {"signature alone", Bytes{'V', 'R', 'Q'}, true},
      {"mixed case", Image(0x06, 4, "vRq"), true},
      {"shorter than the signature", Bytes{'V', 'R'}, false},
      {"empty", Bytes{}, false},
      {"other first bytes", Image(0x06, 4, "VRX"), false},
      {"NUL inside", Bytes{'V', 0, 'Q'}, false},
      {"version record first", Cat({Version(1, 2, 3, 4), Image(0x06, 4)}), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFile f(c.bytes);
    EXPECT_EQ(IsImageFile(f.path()), c.expected);
  }
  TempFile f;
  EXPECT_FALSE(IsImageFile((std::string(f.path()) + ".gone").c_str()));
}

TEST_F(FwImageTest, WholeFileOperations) {
  Bytes data(3000);
  FillBody(data.data(), static_cast<uint32_t>(data.size()), BodyKind::kRandom, 7);
  TempFile f;
  ASSERT_TRUE(WriteFileBytes(f.path(), data.data(), static_cast<uint32_t>(data.size())));
  EXPECT_EQ(GetFileLength(f.path()), 3000u);

  uint32_t size = 0;
  uint8_t* whole = ReadWholeFile(f.path(), &size);
  ASSERT_NE(whole, nullptr);
  EXPECT_EQ(Bytes(whole, whole + size), data);
  delete[] whole;

  // Writing again starts at the beginning and does not shorten the file.
  const uint8_t head[4] = {1, 2, 3, 4};
  ASSERT_TRUE(WriteFileBytes(f.path(), head, 4));
  Bytes expected = data;
  std::copy(head, head + 4, expected.begin());
  EXPECT_EQ(f.Read(), expected);

  uint8_t buf[16];
  EXPECT_TRUE(ReadFileBytes(f.path(), buf, 4));
  EXPECT_EQ(Bytes(buf, buf + 4), Bytes(head, head + 4));

  TempFile small(Bytes{9, 9});
  EXPECT_FALSE(ReadFileBytes(small.path(), buf, 3));  // short read is a failure
}

TEST_F(FwImageTest, MissingFileOperations) {
  TempFile f;
  std::string gone = std::string(f.path()) + ".gone";
  uint8_t buf[4];
  EXPECT_EQ(GetFileLength(gone.c_str()), 0u);
  EXPECT_FALSE(ReadFileBytes(gone.c_str(), buf, 0));
  uint32_t size = 99;
  EXPECT_EQ(ReadWholeFile(gone.c_str(), &size), nullptr);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(trace_.lines(),
            (std::vector<std::string>{"\n", "Error, unable to read file " + gone + "\n"}));
  EXPECT_EQ(ReadWholeFile(gone.c_str(), nullptr), nullptr);

  ParseFwFile(gone.c_str());
  EXPECT_EQ(g_dwTotalFileSize, 0u);
  EXPECT_EQ(g_dwNumofImages, 0u);
  EXPECT_TRUE(report_.boxes().empty());
}

TEST(FwBuilderTest, BodiesAreDeterministic) {
  // Pinned: files made from a seed must be the same on every platform and build.
  FwPrng prng(1);
  EXPECT_EQ(prng.Next(), 0x96A0F96Bu);
  EXPECT_EQ(prng.Next(), 0x12BC8390u);
  Bytes body(512);
  FillBody(body.data(), 512, BodyKind::kPattern, 0);
  EXPECT_EQ(body[251], 0);
  EXPECT_NE(Bytes(body.begin(), body.begin() + 256), Bytes(body.begin() + 256, body.end()));
}

}  // namespace
