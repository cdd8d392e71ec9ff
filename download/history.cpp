#include "download/history.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include <nlohmann/json.hpp>

#include "image/fw_format.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/trace.h"

namespace {

using nlohmann::json;

constexpr const char* kHistoryName = "history.jsonl";
constexpr const char* kOlderName = "history.1.jsonl";
// A line longer than this is no line of ours.
constexpr size_t kMaxLineBytes = 16 * 1024;

std::string TimeText(int64_t seconds) {
  static std::mutex lock;
  std::lock_guard<std::mutex> hold(lock);
  const time_t t = static_cast<time_t>(seconds);
  const tm* utc = gmtime(&t);
  if (utc == nullptr) return "";
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
  return text;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool ParseTime(const std::string& text, int64_t* seconds) {
  int y, mo, d, h, mi, s;
  char z = 0;
  if (sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &z) != 7 ||
      z != 'Z' || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60 || h < 0 ||
      mi < 0 || s < 0) {
    return false;
  }
  *seconds = DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400 +
             h * 3600 + mi * 60 + s;
  return true;
}

nlohmann::ordered_json VersionJson(const DownloadVersion& v) {
  if (!v.known) return nullptr;
  return VersionNumbersText(v.major, v.minor, v.build, v.revision);
}

bool VersionFrom(const json& j, DownloadVersion* v) {
  *v = DownloadVersion{false, 0, 0, 0, 0};
  if (j.is_null()) return true;
  if (!j.is_string()) return false;
  unsigned a, b, c, d;
  char extra;
  if (sscanf(j.get<std::string>().c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &extra) != 4) {
    return false;
  }
  *v = DownloadVersion{true, a, b, c, d};
  return true;
}

template <typename E>
bool EnumFrom(const json& j, E last, const char* (*name)(E), E* out) {
  if (!j.is_string()) return false;
  const std::string text = j.get<std::string>();
  for (int i = 0; i <= static_cast<int>(last); ++i) {
    if (text == name(static_cast<E>(i))) {
      *out = static_cast<E>(i);
      return true;
    }
  }
  return false;
}

// The file's text; "" for a file that is not there. One that is there and
// cannot be read says so in `error`.
std::string ReadText(const std::string& path, std::string* error) {
  uint64_t size = 0;
  if (!Files().Exists(path.c_str())) return "";
  if (Files().Size(path.c_str(), &size)) {
    // A file grown far past its bound by hand is read up to a bound too.
    if (size > 4 * kHistoryRotateBytes) size = 4 * kHistoryRotateBytes;
    std::string text(static_cast<size_t>(size), '\0');
    if (size == 0 || Files().Read(path.c_str(), &text[0], static_cast<uint32_t>(size))) return text;
  }
  const std::string why = "cannot read the download history " + path + ": " + LastFileErrorText();
  DbgTrace("%s\n", why.c_str());
  if (error != nullptr && error->empty()) *error = why;
  return "";
}

void ParseLines(const std::string& text, const std::string& portId,
                std::vector<HistoryEntry>* out) {
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    HistoryEntry entry;
    if (line.size() > kMaxLineBytes) continue;
    if (!ParseHistoryLine(line, &entry)) {
      // A line cut short (a crash mid-write) runs into the next record
      // appended after it: that record still stands from its own start.
      const size_t next = line.rfind("{\"time\"");
      if (next == 0 || next == std::string::npos || !ParseHistoryLine(line.substr(next), &entry)) {
        continue;
      }
    }
    if (portId.empty() || entry.context.portId == portId) out->push_back(entry);
  }
}

bool WroteSomething(const DownloadRecord& r) { return r.ok || r.written != DownloadWritten::kNothing; }

}  // namespace

const char* DownloadFailureName(DownloadFailure cause) {
  switch (cause) {
    case DownloadFailure::kNone: return "none";
    case DownloadFailure::kConsoleSilent: return "console-silent";
    case DownloadFailure::kNoVersion: return "no-version";
    case DownloadFailure::kBadImage: return "bad-image";
    case DownloadFailure::kStoppedBeforeWrite: return "stopped-before-write";
    case DownloadFailure::kPortLostBeforeWrite: return "port-lost-before-write";
    case DownloadFailure::kNotWritten: return "not-written";
    case DownloadFailure::kFailed: return "failed";
    case DownloadFailure::kNotConfirmed: return "not-confirmed";
    case DownloadFailure::kBootloader: return "bootloader";
    case DownloadFailure::kPortLost: return "port-lost";
    case DownloadFailure::kPortLostInBootloader: return "port-lost-in-bootloader";
    case DownloadFailure::kPortLostAtEnd: return "port-lost-at-end";
  }
  return "unknown";
}

const char* DownloadWrittenName(DownloadWritten written) {
  switch (written) {
    case DownloadWritten::kNothing: return "nothing";
    case DownloadWritten::kPartly: return "partly";
    case DownloadWritten::kAll: return "all";
  }
  return "unknown";
}

std::string HistoryLine(const HistoryEntry& e) {
  // Keys in this order, the time first: a reader (and the recovery of a cut
  // line) finds each record by its start.
  using ojson = nlohmann::ordered_json;
  const DownloadRecord& r = e.record;
  ojson images = ojson::array();
  for (uint32_t i = 0; i < r.numImages && i < 16; ++i) {
    images.push_back({{"part", r.images[i].part}, {"accepted", r.images[i].accepted}});
  }
  ojson j = {{"time", TimeText(e.time)},
            {"program", e.context.program},
            {"port", e.context.port},
            {"port_id", e.context.portId},
            {"file", e.context.file},
            {"sha256", r.sha256},
            {"file_version", VersionJson(r.fileVersion)},
            {"version_before", VersionJson(r.before)},
            {"version_after", VersionJson(r.after)},
            {"images", images},
            {"defaults_due", r.defaultsDue},
            {"defaults_written", r.defaultsWritten},
            {"ok", r.ok},
            {"cause", DownloadFailureName(r.cause)},
            {"written", DownloadWrittenName(r.written)},
            {"exit_code", e.context.exitCode < 0 ? ojson(nullptr) : ojson(e.context.exitCode)}};
  // Paths are 8-bit texts of the system; one that is not UTF-8 is kept readable.
  return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

bool ParseHistoryLine(const std::string& line, HistoryEntry* out) {
  const json j = json::parse(line, nullptr, false);
  if (!j.is_object()) return false;
  HistoryEntry e;
  DownloadRecord& r = e.record;
  try {
    if (!ParseTime(j.at("time").get<std::string>(), &e.time)) return false;
    e.context.program = j.at("program").get<std::string>();
    e.context.port = j.at("port").get<std::string>();
    e.context.portId = j.at("port_id").get<std::string>();
    e.context.file = j.at("file").get<std::string>();
    const std::string sha = j.at("sha256").get<std::string>();
    if (sha.size() >= sizeof r.sha256) return false;
    snprintf(r.sha256, sizeof r.sha256, "%s", sha.c_str());
    if (!VersionFrom(j.at("file_version"), &r.fileVersion) ||
        !VersionFrom(j.at("version_before"), &r.before) ||
        !VersionFrom(j.at("version_after"), &r.after)) {
      return false;
    }
    const json& images = j.at("images");
    if (!images.is_array() || images.size() > 16) return false;
    for (const json& image : images) {
      const unsigned part = image.at("part").get<unsigned>();
      if (part > 0xFF) return false;
      r.images[r.numImages++] = {static_cast<uint8_t>(part), image.at("accepted").get<bool>()};
    }
    r.defaultsDue = j.at("defaults_due").get<bool>();
    r.defaultsWritten = j.at("defaults_written").get<bool>();
    r.ok = j.at("ok").get<bool>();
    if (!EnumFrom(j.at("cause"), DownloadFailure::kPortLostAtEnd, DownloadFailureName, &r.cause) ||
        !EnumFrom(j.at("written"), DownloadWritten::kAll, DownloadWrittenName, &r.written)) {
      return false;
    }
    const json& code = j.at("exit_code");
    e.context.exitCode = code.is_null() ? -1 : code.get<int>();
  } catch (const json::exception&) {
    // A field missing or of another type: a foreign line.
    return false;
  }
  *out = e;
  return true;
}

bool HistoryDir(std::string* dir) {
  const char* env = getenv("TARNWICK_STATE_DIR");
  if (env != nullptr && env[0] != '\0') {
    *dir = env;
    const char last = dir->back();
    if (last != '/' && last != '\\') *dir += PathSeparator();
    return true;
  }
  char path[kMaxPathText];
  if (!GetAppFileDir(AppFileKind::kHistory, path, sizeof path)) return false;
  *dir = path;
  return true;
}

bool AppendHistory(const DownloadRecord& record, const HistoryContext& context,
                   const std::string& dir) {
  HistoryEntry entry;
  entry.time = NowSeconds();
  entry.context = context;
  entry.record = record;
  entry.record.text[0] = '\0';
  const std::string line = HistoryLine(entry) + "\n";
  const std::string path = dir + kHistoryName;

  OsFile f;
  uint64_t size = 0;
  if (f.OpenAppend(path.c_str()) && f.Size(&size) && size >= kHistoryRotateBytes) {
    f.Close();
    // Two processes may both see the file full; the second rename finds it
    // gone (or new and small) and fails or moves a short file: no line is lost
    // that the older file did not already keep.
    RenameReplacing(path.c_str(), (dir + kOlderName).c_str());
    f.OpenAppend(path.c_str());
  }
  if (!f.IsOpen() || !f.WriteExact(line.data(), static_cast<uint32_t>(line.size()))) {
    DbgTrace("history: unable to append to %s\n", path.c_str());
    return false;
  }
  return true;
}

bool AppendHistory(const DownloadRecord& record, const HistoryContext& context) {
  std::string dir;
  if (!HistoryDir(&dir)) {
    DbgTrace("history: no folder for the download history\n");
    return false;
  }
  return AppendHistory(record, context, dir);
}

std::vector<HistoryEntry> ReadHistory(const std::string& dir, const std::string& portId,
                                      std::string* error) {
  std::vector<HistoryEntry> out;
  ParseLines(ReadText(dir + kOlderName, error), portId, &out);
  ParseLines(ReadText(dir + kHistoryName, error), portId, &out);
  return out;
}

bool FactoryDefaultsPending(const std::vector<HistoryEntry>& portHistory) {
  bool pending = false;
  for (const HistoryEntry& e : portHistory) {
    if (e.record.defaultsWritten) {
      pending = false;
    } else if (e.record.defaultsDue && WroteSomething(e.record)) {
      pending = true;
    }
  }
  return pending;
}

FileCurrency DecideCurrency(const FileFacts& file, const FW_VERSION& running,
                            const std::vector<HistoryEntry>& portHistory) {
  if (!file.hasVersion) return FileCurrency::kNoVersionRecord;
  if (!SameVersion(file.version, running)) return FileCurrency::kVersionDiffers;
  if (FactoryDefaultsPending(portHistory)) return FileCurrency::kDefaultsPending;
  if (!file.hasBootloader) return FileCurrency::kCurrent;
  for (auto it = portHistory.rbegin(); it != portHistory.rend(); ++it) {
    const DownloadRecord& r = it->record;
    if (!WroteSomething(r)) continue;
    // Every image accepted is whole, also when only leaving download mode failed.
    if ((r.ok || r.written == DownloadWritten::kAll) && file.sha256 == r.sha256) {
      return FileCurrency::kCurrent;
    }
    if (!r.ok && file.sha256 == r.sha256 &&
        (r.cause == DownloadFailure::kBootloader ||
         r.cause == DownloadFailure::kPortLostInBootloader)) {
      return FileCurrency::kBootloaderFailed;
    }
    return FileCurrency::kBootloaderUnknown;
  }
  return FileCurrency::kBootloaderUnknown;
}
