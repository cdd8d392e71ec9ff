// The download history: the "current" rule over a port's past downloads,
// lines that survive many writers at once, damaged lines and the size bound.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "download/history.h"
#include "support/temp_dir.h"

namespace {

const char kSha[] = "aa11";
const char kOtherSha[] = "bb22";

HistoryEntry Entry(const char* sha, bool ok, DownloadFailure cause, DownloadWritten written,
                   bool due = false, bool defaultsWritten = false) {
  HistoryEntry e;
  e.time = 1796000000;
  e.context = {"tarnwick-cli", "/dev/ttyUSB0", "/dev/serial/by-id/usb-X", "fw.bin", ok ? 0 : 6};
  e.record.ok = ok;
  e.record.cause = cause;
  e.record.written = written;
  snprintf(e.record.sha256, sizeof e.record.sha256, "%s", sha);
  e.record.defaultsDue = due;
  e.record.defaultsWritten = defaultsWritten;
  return e;
}

const HistoryEntry kWhole = Entry(kSha, true, DownloadFailure::kNone, DownloadWritten::kAll);
const HistoryEntry kOtherWhole = Entry(kOtherSha, true, DownloadFailure::kNone, DownloadWritten::kAll);
const HistoryEntry kBootFailed =
    Entry(kSha, false, DownloadFailure::kBootloader, DownloadWritten::kPartly);
const HistoryEntry kSilent =
    Entry(kSha, false, DownloadFailure::kConsoleSilent, DownloadWritten::kNothing);
const HistoryEntry kLostAtEndDue =
    Entry(kSha, false, DownloadFailure::kPortLostAtEnd, DownloadWritten::kAll, true, false);
const HistoryEntry kWholeDefaults =
    Entry(kSha, true, DownloadFailure::kNone, DownloadWritten::kAll, true, true);

TEST(HistoryTest, CurrentOnlyWhatThisPortsHistoryProves) {
  const FW_VERSION runs = {0, 3, 0, 7};
  FileFacts plain{kSha, true, runs, false};
  FileFacts boot{kSha, true, runs, true};
  FileFacts older{kSha, true, {0, 2, 0, 1}, true};
  FileFacts noRecord{kSha, false, {0, 0, 0, 0}, false};
  struct Case {
    const char* name;
    FileFacts file;
    std::vector<HistoryEntry> history;
    FileCurrency want;
  } cases[] = {
      {"no bootloader: the version decides", plain, {}, FileCurrency::kCurrent},
      {"no version record", noRecord, {kWhole}, FileCurrency::kNoVersionRecord},
      {"another version runs", older, {kWhole}, FileCurrency::kVersionDiffers},
      {"bootloader, no history (another machine)", boot, {}, FileCurrency::kBootloaderUnknown},
      {"bootloader, whole download here", boot, {kWhole}, FileCurrency::kCurrent},
      {"bootloader failed after the whole download", boot, {kWhole, kBootFailed},
       FileCurrency::kBootloaderFailed},
      {"rerun finished the job", boot, {kBootFailed, kWhole}, FileCurrency::kCurrent},
      {"a failure that wrote nothing changes nothing", boot, {kWhole, kSilent},
       FileCurrency::kCurrent},
      {"another file was the last written", boot, {kWhole, kOtherWhole},
       FileCurrency::kBootloaderUnknown},
      {"lost at the end: images whole, defaults due", boot, {kLostAtEndDue},
       FileCurrency::kDefaultsPending},
      {"defaults pending stop a plain file too", plain, {kLostAtEndDue},
       FileCurrency::kDefaultsPending},
      {"defaults written by the rerun", boot, {kLostAtEndDue, kWholeDefaults},
       FileCurrency::kCurrent},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DecideCurrency(c.file, runs, c.history), c.want);
  }
}

TEST(HistoryTest, ManyWritersDamagedLinesAndTheSizeBound) {
  TempDir dir("tarnwick-history");
  const std::string folder = dir.path() + "/";
  // A damaged line, a foreign one and a half-written one are skipped.
  {
    std::ofstream f(dir / "history.jsonl", std::ios::binary);
    f << "{not json\n" << R"({"time":"x","program":1})" << "\n" << HistoryLine(kWhole) << "\n"
      << HistoryLine(kBootFailed).substr(0, 40);
  }
  std::vector<std::thread> writers;
  constexpr int kWriters = 16, kEach = 40;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&] {
      for (int i = 0; i < kEach; ++i) AppendHistory(kBootFailed.record, kBootFailed.context, folder);
    });
  }
  for (std::thread& t : writers) t.join();
  std::vector<HistoryEntry> all = ReadHistory(folder);
  // The line appended after the half line stands from its own start.
  ASSERT_EQ(all.size(), 1u + kWriters * kEach);
  EXPECT_STREQ(all[0].record.sha256, kSha);
  EXPECT_TRUE(all[0].record.ok);
  EXPECT_EQ(all.back().record.cause, DownloadFailure::kBootloader);
  EXPECT_EQ(all.back().context.portId, kBootFailed.context.portId);
  EXPECT_TRUE(ReadHistory(folder, "/dev/ttyS9").empty());

  // Past the bound the file moves aside whole and a new one starts; the
  // older file is still read, a third generation is not kept.
  {
    std::ofstream f(dir / "history.jsonl", std::ios::binary | std::ios::app);
    const std::string line = HistoryLine(kWhole) + "\n";
    for (uint64_t n = 0; n < kHistoryRotateBytes; n += line.size()) f << line;
  }
  const size_t before = ReadHistory(folder).size();
  AppendHistory(kSilent.record, kSilent.context, folder);
  EXPECT_EQ(ReadHistory(folder).size(), before + 1);
  std::ifstream fresh(dir / "history.jsonl", std::ios::binary | std::ios::ate);
  EXPECT_LT(static_cast<uint64_t>(fresh.tellg()), 1024u);
}

}  // namespace
