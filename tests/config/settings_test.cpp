// Runs on both platforms: natively against the POSIX profile code and, cross
// built, against the Windows profile functions. Where the Windows read differs
// in a corner, the row carries the Windows result beside ours.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "config/profile.h"
#include "config/settings.h"
#include "platform/paths.h"
#include "support/temp_dir.h"
#include "support/trace_capture.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

bool OnWindows() { return PathSeparator() == '\\'; }

std::string WithoutCR(std::string text) {
  std::string out;
  for (char c : text)
    if (c != '\r') out += c;
  return out;
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = temp_.path();
    path_ = dir_ / "fwdl.ini";
    SetSettingsPathOverride(path_.string().c_str());
  }
  void TearDown() override {
    SetSettingsPathOverride(nullptr);
  }
  void WriteIni(const std::string& bytes) {
    std::ofstream(path_, std::ios::binary) << bytes;
  }
  std::string ReadIni() const {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::string Read(const char* section, const char* key, const char* def = "<missing>") const {
    char out[260];
    ProfileGetString(path_.string().c_str(), section, key, def, out, sizeof out);
    return out;
  }
  // Starts from junk so that no field passes by keeping an earlier value.
  FWDL_CFG Load() {
    FWDL_CFG cfg;
    memset(&cfg, 0x5A, sizeof cfg);
    LoadSettings(&cfg);
    return cfg;
  }

  TempDir temp_{"tarnwick-settings"};
  fs::path dir_;
  fs::path path_;
  TraceCapture trace_;
};

int64_t NumberField(const FWDL_CFG& cfg, const std::string& key) {
  if (key == "comport") return cfg.comport;
  if (key == "linewaittime") return cfg.linewaittime;
  if (key == "charwaittime") return cfg.charwaittime;
  if (key == "dlstartdelay") return cfg.dlstartdelay;
  if (key == "dlnormaldelay") return cfg.dlnormaldelay;
  if (key == "eventchar") return cfg.eventchar;
  return cfg.dlretry;
}

std::string TextField(const FWDL_CFG& cfg, const std::string& key) {
  if (key == "file") return cfg.file;
  if (key == "signature") return cfg.signature;
  if (key == "writecmd") return cfg.writevpd;
  return cfg.device;
}

TEST_F(SettingsTest, MissingFileGivesEveryDefaultAndIsNotCreatedByLoading) {
  FWDL_CFG cfg = Load();
  EXPECT_STREQ(cfg.file, "");
  EXPECT_STREQ(cfg.signature, "VRQ");
  EXPECT_EQ(cfg.comport, 1u);
  EXPECT_EQ(cfg.linewaittime, 1u);
  EXPECT_EQ(cfg.charwaittime, 1u);
  EXPECT_EQ(cfg.dlstartdelay, 45);
  EXPECT_EQ(cfg.dlnormaldelay, 15);
  EXPECT_EQ(cfg.dlretry, 10);
  const std::string cmd =
      "tavo1productdatawrite 0x%x 0x%x 0x%x 0x%x 0x%x 0x%x 0x%x 0x%x 0x%x 0x%x";
  EXPECT_EQ(cfg.writevpd, cmd + "\n");
  EXPECT_STREQ(cfg.device, "");
  EXPECT_EQ(cfg.eventchar, 0u);
  EXPECT_EQ(trace_.lines(), (std::vector<std::string>{
                                "settings file: " + path_.string() + "\n", "cfg->comport=1", "cfg->linewaittime=1 ms",
                                "cfg->charwaittime=1 ms", "cfg->writevpd=" + cmd,
                                "cfg->dlstartdelay=45 seconds", "cfg->dlnormaldelay=15 seconds",
                                "cfg->dlretry=10 times", "cfg->fwattempts=3 times"}));
  EXPECT_FALSE(fs::exists(path_));
}

TEST_F(SettingsTest, FirstSaveLeavesFileWithEmptyFileAndPortOne) {
  FWDL_CFG cfg = Load();
  EXPECT_TRUE(SaveSettings(&cfg));
  EXPECT_EQ(WithoutCR(ReadIni()), "[settings]\nfile=\ncomport=1\n");
}

TEST_F(SettingsTest, NumbersAreReadFromTheirStartAndCorrected) {
  struct Row {
    const char* key;
    std::string value;
    int64_t expected;
    const char* trace;  // nullptr: not checked
  };
  const Row rows[] = {
      {"comport", "0", 1, "cfg->comport=1"},
      {"comport", "COM3", 1, "cfg->comport=1"},
      {"comport", "", 1, "cfg->comport=1"},
      {"comport", "7", 7, "cfg->comport=7"},
      {"comport", "12abc", 12, nullptr},
      {"comport", "\" 3\"", 3, nullptr},  // blanks before the digits are skipped
      {"comport", "'4'", 4, nullptr},
      {"comport", "+5", 5, nullptr},
      // A negative number is its 32-bit pattern: not below 1, traced signed.
      {"comport", "-5", 4294967291, "cfg->comport=-5"},
      {"linewaittime", "5000", 1000, "cfg->linewaittime=1000 ms"},
      {"linewaittime", "1001", 1000, nullptr},
      {"linewaittime", "0", 0, "cfg->linewaittime=0 ms"},
      {"charwaittime", "999", 200, "cfg->charwaittime=200 ms"},
      {"charwaittime", "-1", 200, nullptr},
      {"dlstartdelay", "", 45, "cfg->dlstartdelay=45 seconds"},  // empty: default
      {"dlstartdelay", "abc", 0, "cfg->dlstartdelay=0 seconds"},
      {"dlnormaldelay", "30 s", 30, "cfg->dlnormaldelay=30 seconds"},
      {"dlretry", "1", 1, "cfg->dlretry=1 times"},
      {"dlretry", "-3", -3, "cfg->dlretry=-3 times"},
      {"dlretry", "- 3", 0, nullptr},
      {"dlretry", "4294967297", 1, nullptr},  // wraps at 32 bits
      // The Windows read also takes C-style prefixes; ours reads decimal only.
      {"dlretry", "0x10", OnWindows() ? 16 : 0, nullptr},
      // An opt-in switch: any number but 0 turns it on.
      {"eventchar", "1", 1, "cfg->eventchar=1"},
      {"eventchar", "42", 1, nullptr},
      {"eventchar", "0", 0, nullptr},
      {"eventchar", "on", 0, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.key) + "=" + row.value);
    WriteIni("[settings]\n"s + row.key + "=" + row.value + "\n");
    trace_.Clear();
    FWDL_CFG cfg = Load();
    EXPECT_EQ(NumberField(cfg, row.key), row.expected);
    if (row.trace) {
      EXPECT_TRUE(trace_.Has(row.trace));
    }
  }
}

TEST_F(SettingsTest, TextsLoseBlanksAndQuotesAndAreCut) {
  const std::string a259(259, 'a');
  struct Row {
    const char* key;
    std::string line_value;
    std::string expected;
  };
  const Row rows[] = {
      {"file", "  C:\\fw\\a.bin  ", "C:\\fw\\a.bin"},
      {"file", "\"  /srv/fw image.bin  \"", "/srv/fw image.bin"},
      {"file", "a\0b"s, "a"},
      {"signature", "", ""},  // present but empty: not the default
      {"signature", "\"\"", ""},
      {"signature", "'abc'", "abc"},
      {"signature", "\"ab\"c\"", "ab\"c"},
      {"signature", "'ab\"", "'ab\""},
      {"signature", "\"", "\""},
      {"writecmd", "  cmd 0x%x  ", "cmd 0x%x\n"},
      {"writecmd", "", "\n"},
      {"writecmd", std::string(10000, 'a'), a259 + "\n"},
      {"device", " /dev/ttyUSB0 ", "/dev/ttyUSB0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.key) + "=" + row.line_value.substr(0, 40));
    WriteIni("[settings]\n"s + row.key + "=" + row.line_value + "\ncomport=2\n");
    EXPECT_EQ(TextField(Load(), row.key), row.expected);
  }
}

// A file name cut to 259 characters would name another file: a longer
// value is refused whole (the field stays empty), and a save keeps the line
// until another name takes its place.
TEST_F(SettingsTest, FileKeyTooLongIsRefusedNeverCut) {
  const std::string a259(259, 'a');
  struct Row {
    std::string value;
    bool tooLong;
  };
  const Row rows[] = {
      {a259, false},
      {"  " + a259 + "  ", false},
      {"\"" + a259 + "\"", false},
      {a259 + "b", true},
      {"\"" + a259 + "b\"", true},
      {std::string(10000, 'a'), true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.value.substr(0, 4) + "... " + std::to_string(row.value.size()));
    const std::string line = "file=" + row.value;
    WriteIni("[settings]\n" + line + "\ncomport=2\n");
    trace_.Clear();
    FWDL_CFG cfg = Load();
    EXPECT_EQ(cfg.fileTooLong, row.tooLong);
    EXPECT_EQ(cfg.file, row.tooLong ? "" : a259);
    EXPECT_EQ(cfg.comport, 2u);
    if (!row.tooLong) continue;
    EXPECT_TRUE(trace_.Contains("settings: file= is longer than 259 characters"));
    cfg.comport = 3;
    EXPECT_TRUE(SaveSettings(&cfg));
    EXPECT_NE(WithoutCR(ReadIni()).find("\n" + line + "\n"), std::string::npos);
    EXPECT_EQ(Read("settings", "comport"), "3");
    snprintf(cfg.file, sizeof cfg.file, "%s", "/fw/chosen.bin");
    EXPECT_TRUE(SaveSettings(&cfg));
    EXPECT_EQ(Read("settings", "file"), "/fw/chosen.bin");
  }
}

TEST_F(SettingsTest, TextsAreTraced) {
  WriteIni("[settings]\nwritecmd=  cmd 0x%x  \ndevice= /dev/pts/7 \n");
  Load();
  EXPECT_TRUE(trace_.Has("cfg->writevpd=cmd 0x%x"));
  EXPECT_EQ(trace_.lines().back(), "cfg->device=/dev/pts/7");
}

TEST_F(SettingsTest, FileLayoutAndBadInputAreReadSafely) {
  std::string binary;
  for (int i = 0; i < 512; ++i) binary += static_cast<char>(i * 7);
  struct Row {
    const char* what;
    std::string bytes;
    uint32_t comport;
  };
  const Row rows[] = {
      {"any letter case, CRLF", "[SETTINGS]\r\nComPort=3\r\n", 3},
      {"key before any section", "comport=5\n[settings]\n", 1},
      {"key of another section", "[other]\ncomport=5\n[settings]\nfile=x\n", 1},
      {"duplicated key", "[settings]\ncomport=2\ncomport=3\n", 2},
      {"duplicated section", "[settings]\ncomport=2\n[Settings]\ncomport=3\n", 2},
      {"only the first section counts", "[settings]\nfile=a\n[other]\n[settings]\ncomport=3\n",
       1},
      {"blanks everywhere", "  [ settings ]  ; note\n\t comport\t =  4  \n", 4},
      {"byte-order mark", "\xEF\xBB\xBF[settings]\ncomport=5\n", 5},
      {"CR line ends", "[settings]\rcomport=6\r", 6},
      {"no final line end", "[settings]\ncomport=7", 7},
      {"header without ]", "[settings\ncomport=8\n", 1},
      {"garbage lines", "[settings]\ngarbage line\n==\n\x01\x02\xff\xfe\n=9\ncomport=9\n", 9},
      {"NUL bytes", "[settings]\nfile=a\0b\ncomport=2\0\x30\n\0\ncomport=5\n[\0x]\ncomport=4\n"s, 2},
      {"NUL after value", "[settings]\ncomport=10\0zz\n"s, 10},
      {"binary bytes", binary + "\n[settings]\ncomport=11\n", 11},
      {"very long line", std::string(100000, 'x') + "\n[settings]\ncomport=12\n", 12},
      {"very long key", "[settings]\n" + std::string(5000, 'k') + "=1\ncomport=13\n", 13},
      // The Windows read lets a bare "comport" line (no '=') hide the later key.
      {"bare key line", "[settings]\ncomport\ncomport=14\n", OnWindows() ? 1u : 14u},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    WriteIni(row.bytes);
    EXPECT_EQ(Load().comport, row.comport);
  }
}

TEST_F(SettingsTest, SaveReplacesTheTwoKeysAndKeepsTheRest) {
  WriteIni("; tarnwick\n[settings]\nsignature=ABC\nfile=old.bin\ncomport=3\ndlretry=4\n\n"
           "[other]\nfile=keep\n");
  FWDL_CFG cfg = Load();
  snprintf(cfg.file, sizeof cfg.file, "%s", "/fw/new image.bin");
  cfg.comport = 5;
  EXPECT_TRUE(SaveSettings(&cfg));

  FWDL_CFG again = Load();
  EXPECT_STREQ(again.file, "/fw/new image.bin");
  EXPECT_EQ(again.comport, 5u);
  EXPECT_STREQ(again.signature, "ABC");
  EXPECT_EQ(again.dlretry, 4);
  EXPECT_EQ(Read("other", "file"), "keep");
  EXPECT_EQ(ReadIni().rfind("; tarnwick", 0), 0u);
}

TEST_F(SettingsTest, SaveWritesEmptyFileAndSignedPort) {
  WriteIni("[settings]\nfile=old.bin\n");
  FWDL_CFG cfg = Load();
  cfg.file[0] = '\0';
  cfg.comport = 0xFFFFFFFBu;
  EXPECT_TRUE(SaveSettings(&cfg));
  EXPECT_EQ(Read("settings", "file"), "");  // the key stays, with no value
  EXPECT_EQ(Read("settings", "comport"), "-5");
}

TEST_F(SettingsTest, SaveNeverWritesALineBreakNorReadsPastTheField) {
  WriteIni("[settings]\nfile=old.bin\ncomport=1\n");
  FWDL_CFG cfg = Load();
  snprintf(cfg.file, sizeof cfg.file, "%s", "a.bin\r\n[x]\r\nb");
  cfg.comport = 2;
  EXPECT_TRUE(SaveSettings(&cfg));  // the port still goes out
  EXPECT_EQ(Read("settings", "file"), "old.bin");
  EXPECT_EQ(Read("settings", "comport"), "2");
  EXPECT_EQ(Read("x", "b"), "<missing>");

  memset(cfg.file, 'f', sizeof cfg.file);  // no terminator at all
  EXPECT_TRUE(SaveSettings(&cfg));
  EXPECT_EQ(Read("settings", "file"), std::string(259, 'f'));
}

// What a save writes, a load gives back: a name with blanks or control
// characters at its ends, or in quotation marks of its own, is written in
// quotation marks; any other name as it stands.
TEST_F(SettingsTest, SavedNameReadsBackAsItWas) {
  struct Row {
    std::string name;
    std::string line;  // the file's line for it
  };
  const Row rows[] = {
      {"/fw/a b.bin", "file=/fw/a b.bin"},
      {"C:\\fw\\\"x\".bin", "file=C:\\fw\\\"x\".bin"},
      {"'a.bin", "file='a.bin"},
      {"\fa.bin", "file=\"\fa.bin\""},
      {"a.bin\t", "file=\"a.bin\t\""},
      {"\va\x1a", "file=\"\va\x1a\""},
      {"\"a.bin\"", "file=\"\"a.bin\"\""},
      {"'a.bin'", "file=\"'a.bin'\""},
      {"\"", "file=\""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    WriteIni("[settings]\nfile=old.bin\n");
    FWDL_CFG cfg = Load();
    snprintf(cfg.file, sizeof cfg.file, "%s", row.name.c_str());
    EXPECT_TRUE(SaveSettings(&cfg));
    EXPECT_NE(WithoutCR(ReadIni()).find("\n" + row.line + "\n"), std::string::npos) << ReadIni();
    EXPECT_EQ(Load().file, row.name);
  }
}

TEST_F(SettingsTest, PathTooLongIsShownCutButNeverUsed) {
  fs::path deep = dir_;
  for (int i = 0; i < 3; ++i) deep /= std::string(90, static_cast<char>('a' + i));
  const std::string full = (deep / "fwdl.ini").string();
  ASSERT_GT(full.size(), 259u);
  SetSettingsPathOverride(full.c_str());
  // Where the system allows such a path, a file there must still go unread.
  std::error_code ec;
  fs::create_directories(deep, ec);
  std::ofstream(full, std::ios::binary) << "[settings]\ncomport=7\n";

  FWDL_CFG cfg = Load();
  EXPECT_EQ(cfg.comport, 1u);
  EXPECT_FALSE(SaveSettings(&cfg));
  char shown[260];
  GetSettingsPath(shown, sizeof shown);
  EXPECT_EQ(shown, full.substr(0, 259));
}

TEST_F(SettingsTest, PathIsBesideTheExecutable) {
  SetSettingsPathOverride(nullptr);
  char dir[260];
  ASSERT_TRUE(GetExeDir(dir, sizeof dir));
  char path[260];
  GetSettingsPath(path, sizeof path);
  EXPECT_EQ(std::string(path), std::string(dir) + "fwdl.ini");
  char small[6];
  GetSettingsPath(small, sizeof small);
  EXPECT_EQ(std::string(small), std::string(path).substr(0, 5));
}

}  // namespace
