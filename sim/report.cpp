#include "sim/report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sim/sha256.h"

namespace sim {
namespace {

// JSON string literal. Bytes above 0x7F stand for themselves as U+0080 to
// U+00FF, so the report stays valid UTF-8 whatever arrived on the line.
std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    char esc[8];
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          std::snprintf(esc, sizeof esc, "\\u%04x", c);
          out += esc;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string Seconds(Micros t, Micros start) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", static_cast<double>(t - start) / kMicrosPerSecond);
  return text;
}

std::string Num(unsigned long long v) { return std::to_string(v); }

std::string SpreadJson(const Spread& s) {
  char text[200];
  std::snprintf(text, sizeof text,
                "{\"count\": %llu, \"mean\": %.1f, \"p50\": %lld, \"p90\": %lld, \"p99\": %lld, "
                "\"p999\": %lld, \"max\": %lld}",
                static_cast<unsigned long long>(s.n), s.Mean(),
                static_cast<long long>(s.Quantile(0.5)), static_cast<long long>(s.Quantile(0.9)),
                static_cast<long long>(s.Quantile(0.99)), static_cast<long long>(s.Quantile(0.999)),
                static_cast<long long>(s.max));
  return text;
}

std::string PartName(int part) {
  if (part < 0) return "none";
  char text[16];
  std::snprintf(text, sizeof text, "%02x", static_cast<unsigned>(part) & 0xFFu);
  return text;
}

}  // namespace

bool SaveImage(const std::string& dir, ImageRecord* image) {
  const std::string path =
      dir + "/image-" + std::to_string(image->number) + "-part-" + PartName(image->part) + ".bin";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    image->save_error = path + ": " + std::strerror(errno);
    return false;
  }
  const size_t n = image->data.empty() ? 0 : std::fwrite(image->data.data(), 1, image->data.size(), f);
  const bool ok = n == image->data.size() && std::fflush(f) == 0;
  if (!ok) image->save_error = path + ": " + std::strerror(errno);
  if (std::fclose(f) != 0 && ok) {
    image->save_error = path + ": " + std::strerror(errno);
    return false;
  }
  if (ok) image->file = path;
  return ok;
}

std::string ReportJson(const Record& record, const std::vector<ImageRecord>& images,
                       const std::string& exit_reason) {
  const Micros t0 = record.start;
  std::string j = "{\n";
  j += "  \"exit_reason\": " + Quote(exit_reason) + ",\n";
  j += "  \"start_version\": " + Quote(FormatVersion(record.start_version)) + ",\n";
  j += "  \"running_version\": " + Quote(FormatVersion(record.running_version)) + ",\n";

  j += "  \"images\": [";
  for (size_t i = 0; i < images.size(); ++i) {
    const ImageRecord& im = images[i];
    j += i ? ",\n" : "\n";
    j += "    {\"number\": " + Num(im.number) + ", \"sequence\": " + Num(im.sequence) +
         ", \"part\": " + (im.part < 0 ? std::string("null") : Num(im.part)) +
         ", \"size\": " + Num(im.data.size()) +
         ", \"declared_size\": " + (im.declared_size ? Num(im.declared_size) : std::string("null")) +
         ", \"complete\": " + (im.declared_size && im.data.size() == im.declared_size ? "true" : "false") +
         ", \"terminated\": " + (im.terminated ? "true" : "false") +
         ", \"sha256\": " + Quote(Sha256Hex(im.data.data(), im.data.size())) +
         ", \"file\": " + (im.file.empty() ? std::string("null") : Quote(im.file));
    if (!im.save_error.empty()) j += ", \"save_error\": " + Quote(im.save_error);
    j += "}";
  }
  j += images.empty() ? "],\n" : "\n  ],\n";

  j += "  \"commands\": [";
  for (size_t i = 0; i < record.commands.size(); ++i) {
    const CommandRecord& c = record.commands[i];
    j += i ? ",\n" : "\n";
    j += "    {\"t\": " + Seconds(c.time, t0) + ", \"command\": " + Quote(CommandName(c.command)) +
         ", \"text\": " + Quote(c.text) + ", \"raw\": " + Quote(c.raw) +
         ", \"ignored\": " + (c.ignored ? "true" : "false") + "}";
  }
  j += record.commands.empty() ? "],\n" : "\n  ],\n";

  j += "  \"reboots\": [";
  for (size_t i = 0; i < record.reboots.size(); ++i) {
    const RebootRecord& r = record.reboots[i];
    j += i ? ",\n" : "\n";
    j += "    {\"t\": " + Seconds(r.time, t0) + ", \"before\": " + Quote(FormatVersion(r.before)) +
         ", \"after\": " + (r.came_back ? Quote(FormatVersion(r.after)) : std::string("null")) + "}";
  }
  j += record.reboots.empty() ? "],\n" : "\n  ],\n";

  const Counters& n = record.counts;
  j += "  \"counts\": {\"bytes_received\": " + Num(n.bytes_received) +
       ", \"bytes_sent\": " + Num(n.bytes_sent) + ", \"sub_packets\": " + Num(n.sub_packets) +
       ", \"packets\": " + Num(n.packets) + ", \"data_packets\": " + Num(n.data_packets) +
       ", \"retries\": " + Num(n.retries) + ", \"recovery_packets\": " + Num(n.recovery_packets) +
       ", \"terminating_headers\": " + Num(n.terminating_headers) +
       ", \"bad_packets\": " + Num(n.bad_packets) + ", \"rejected\": " + Num(n.rejected) +
       ", \"stars_withheld\": " + Num(n.stars_withheld) +
       ", \"statuses_withheld\": " + Num(n.statuses_withheld) +
       ", \"download_sequences\": " + Num(n.download_sequences) +
       ", \"sequences_terminated\": " + Num(n.sequences_terminated) +
       ", \"reboots\": " + Num(n.reboots) + ", \"defaults_writes\": " + Num(n.defaults_writes) +
       ", \"line_losses\": " + Num(n.line_losses) +
       ", \"bytes_garbled\": " + Num(n.bytes_garbled) +
       ", \"violations\": " + Num(record.violations.size() + record.violations_dropped) + "},\n";
  j += "  \"timing\": {\"reply_late_us\": " + SpreadJson(record.timing.reply_late) +
       ", \"host_turn_us\": " + SpreadJson(record.timing.host_turn) + "},\n";

  j += "  \"violations\": [";
  for (size_t i = 0; i < record.violations.size(); ++i) {
    const ViolationRecord& v = record.violations[i];
    j += i ? ",\n" : "\n";
    j += "    {\"t\": " + Seconds(v.time, t0) + ", \"text\": " + Quote(v.text) + "}";
  }
  j += record.violations.empty() ? "]\n" : "\n  ]\n";
  j += "}\n";
  return j;
}

bool WriteFileAtomically(const std::string& path, const std::string& text, std::string* error) {
  const std::string temp = path + ".tmp";
  FILE* f = std::fopen(temp.c_str(), "wb");
  if (!f) {
    *error = temp + ": " + std::strerror(errno);
    return false;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed) {
    *error = temp + ": " + std::strerror(errno);
    std::remove(temp.c_str());
    return false;
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    *error = path + ": " + std::strerror(errno);
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace sim
