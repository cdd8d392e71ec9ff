// tarnwick-bench: one real download, on the real clock and the real serial
// backend, against a device (normally expander-sim's pseudo-terminal), and
// what it cost: wall time, CPU time, peak memory, bytes and calls on the port,
// set against the ideal time of the same download (bench/ideal_model.h).
//
//   tarnwick-bench --device PATH --file IMAGE [--baud N] [--reboot-seconds S]
//                  [--reply-bytes N] [--version-bytes N] [--trace FILE]
//                  [--roundtrips FILE] [--json] [--bare]
//
// Prints key=value lines (or one JSON object with --json) on stdout. Exit
// code 0 when the download succeeded, 1 when it failed, 2 when it could not
// start (bad arguments, port, version check).
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "bench/ideal_model.h"
#include "config/settings.h"
#include "console/version.h"
#include "download/download.h"
#include "platform/report.h"
#include "platform/trace.h"
#include "serial/serial_port.h"

namespace {

using Steady = std::chrono::steady_clock;

double SecondsSince(Steady::time_point t0) {
  return std::chrono::duration<double>(Steady::now() - t0).count();
}

// A fixed-size histogram of durations in microseconds, 2 % wide buckets from
// 0.1 us to about 10 s: quantiles without keeping every value, so the
// benchmark's own memory does not grow with the number of packets.
class Histogram {
 public:
  void Add(double us) {
    double x = std::max(us, kLowUs);
    size_t i = static_cast<size_t>(std::log(x / kLowUs) / std::log(kStep));
    counts_[std::min(i, counts_.size() - 1)] += 1;
    total_ += 1;
    sumUs_ += us;
  }
  double Mean() const { return total_ ? sumUs_ / static_cast<double>(total_) : 0; }
  // The q-quantile (0..1), as the middle of its bucket; 0 for no values.
  double Quantile(double q) const {
    if (total_ == 0) return 0;
    uint64_t rank = static_cast<uint64_t>(q * static_cast<double>(total_ - 1)) + 1;
    uint64_t seen = 0;
    for (size_t i = 0; i < counts_.size(); ++i) {
      seen += counts_[i];
      if (seen >= rank) return kLowUs * std::pow(kStep, static_cast<double>(i) + 0.5);
    }
    return 0;
  }
  void Clear() {
    counts_.fill(0);
    total_ = 0;
    sumUs_ = 0;
  }

 private:
  static constexpr double kLowUs = 0.1;
  static constexpr double kStep = 1.02;
  std::array<uint64_t, 940> counts_{};
  uint64_t total_ = 0;
  double sumUs_ = 0;
};

// Which tenth of the image bytes the download is in (0..9), from the
// progress the core reports; round trips are also kept per tenth, so a tail
// or a drift that grows over a long download shows up.
std::atomic<int> g_decile{0};
constexpr int kDeciles = 10;

// Passes every call to the platform backend and counts calls, bytes and the
// wall time spent inside each kind of call.
class CountingBackend : public SerialBackend {
 public:
  explicit CountingBackend(SerialBackend& inner) : inner_(inner) {}

  struct Counts {
    uint64_t writes = 0, bytesWritten = 0;
    uint64_t reads = 0, emptyReads = 0, bytesRead = 0;
    uint64_t purges = 0, waits = 0, idleWaits = 0;
    double writeS = 0, readS = 0, purgeS = 0, waitS = 0;
  };

  bool Open(const PortAddress& where, bool eventChar) override {
    return inner_.Open(where, eventChar);
  }
  bool IsOpen() override { return inner_.IsOpen(); }
  bool Read(uint8_t* buf, uint32_t count, uint32_t* read) override {
    auto t0 = Steady::now();
    bool ok = inner_.Read(buf, count, read);
    auto t1 = Steady::now();
    c_.readS += Seconds(t1 - t0);
    c_.reads += 1;
    uint32_t n = ok && read ? *read : 0;
    c_.bytesRead += n;
    if (n == 0) {
      c_.emptyReads += 1;
    } else {
      if (writeEnd_ && !lastWriteEndedLine_) AddRoundTrip(Micros(t1 - *writeEnd_));
      writeEnd_.reset();
      dataAt_ = t1;
    }
    return ok;
  }
  bool Write(const uint8_t* buf, uint32_t count, uint32_t* written) override {
    auto t0 = Steady::now();
    if (dataAt_ && t0 - *dataAt_ < kLongestTurn) turnaround_.Add(Micros(t0 - *dataAt_));
    dataAt_.reset();
    bool ok = inner_.Write(buf, count, written);
    auto t1 = Steady::now();
    writeEnd_ = t1;
    lastWriteEndedLine_ = count > 0 && buf[count - 1] == '\n';
    c_.writeS += Seconds(t1 - t0);
    c_.writes += 1;
    c_.bytesWritten += ok && written ? *written : 0;
    return ok;
  }
  void Purge() override {
    auto t0 = Steady::now();
    inner_.Purge();
    c_.purgeS += SecondsSince(t0);
    c_.purges += 1;
  }
  bool WaitInput(uint32_t ms) override {
    auto t0 = Steady::now();
    bool ready = inner_.WaitInput(ms);
    c_.waitS += SecondsSince(t0);
    c_.waits += 1;
    if (!ready) c_.idleWaits += 1;
    return ready;
  }
  void Close() override { inner_.Close(); }
  // A pulled cable must end the download at once, as it does without the
  // counting in between.
  bool IsLost() override { return inner_.IsLost(); }
  std::string OpenFailureHint() override { return inner_.OpenFailureHint(); }
  std::string LatencyWarning(bool brief) override { return inner_.LatencyWarning(brief); }

  const Counts& counts() const { return c_; }
  // Every round trip, one line each ("<index> <tenth> <microseconds> <ms since
  // the download began>"), for plotting against the position in the download.
  void LogRoundTrips(FILE* f) {
    log_ = f;
    logStart_ = Steady::now();
  }
  void Reset() {
    c_ = Counts{};
    turnaround_.Clear();
    roundTrip_.Clear();
    for (Histogram& h : byDecile_) h.Clear();
    roundTrips_ = 0;
    dataAt_.reset();
    writeEnd_.reset();
  }
  // From the arrival of a reply to the next write: the program's own turn.
  // Gaps of kLongestTurn and more hold a fixed pause and are left out.
  const Histogram& turnaround() const { return turnaround_; }
  // From the end of a write to the arrival of the next reply: line and peer.
  // Console lines (ending in a line feed) wait out their pause and are left out.
  const Histogram& roundTrip() const { return roundTrip_; }
  const Histogram& roundTripInDecile(int d) const { return byDecile_[static_cast<size_t>(d)]; }

 private:
  void AddRoundTrip(double us) {
    const int d = std::min(std::max(g_decile.load(), 0), kDeciles - 1);
    roundTrip_.Add(us);
    byDecile_[static_cast<size_t>(d)].Add(us);
    if (log_) {
      const double atMs = std::chrono::duration<double, std::milli>(Steady::now() - logStart_).count();
      fprintf(log_, "%llu %d %.1f %.1f\n", static_cast<unsigned long long>(roundTrips_), d, us, atMs);
    }
    ++roundTrips_;
  }

  static double Seconds(Steady::duration d) { return std::chrono::duration<double>(d).count(); }
  static double Micros(Steady::duration d) { return Seconds(d) * 1e6; }

  static constexpr Steady::duration kLongestTurn = std::chrono::milliseconds(50);

  SerialBackend& inner_;
  Counts c_;
  bool lastWriteEndedLine_ = false;
  std::optional<Steady::time_point> dataAt_, writeEnd_;
  Histogram turnaround_, roundTrip_;
  std::array<Histogram, kDeciles> byDecile_{};
  uint64_t roundTrips_ = 0;
  FILE* log_ = nullptr;
  Steady::time_point logStart_;
};


// The trace is counted, not shown. With --trace it is also kept in a file.
struct TraceCounts {
  std::atomic<uint64_t> lines{0}, bytes{0};
};
TraceCounts g_trace;
FILE* g_traceFile = nullptr;

void CountTrace(const char* text) {
  g_trace.lines += 1;
  g_trace.bytes += std::strlen(text);
  if (g_traceFile) fputs(text, g_traceFile);
}

struct Options {
  std::string device, file, tracePath, roundTripsPath;
  uint32_t baud = 0;
  double rebootSeconds = 0;
  bench::ConsoleReplies replies;
  bool json = false;
  bool bare = false;  // no counting backend: the port_* keys stay 0
};

void Usage() {
  fprintf(stderr,
          "usage: tarnwick-bench --device PATH --file IMAGE [--baud N] [--reboot-seconds S]\n"
          "                      [--reply-bytes N] [--version-bytes N] [--trace FILE]\n"
          "                      [--roundtrips FILE] [--json] [--bare]\n"
          "  --baud N            line rate the peer emulates (0: none) for the ideal time\n"
          "  --reboot-seconds S  how long the peer stays down after a reboot command\n"
          "  --reply-bytes N     bytes the peer answers to each console line\n"
          "  --version-bytes N   bytes of the peer's version answer beyond that\n"
          "  --trace FILE        keep the trace in FILE\n"
          "  --roundtrips FILE   every sub-packet round trip: index, tenth of the image, us, ms\n"
          "  --bare              talk to the port directly, without counting calls and bytes\n");
}

bool ParseArgs(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char** out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    const char* v = nullptr;
    if (a == "--json") {
      o->json = true;
    } else if (a == "--bare") {
      o->bare = true;
    } else if (a == "--device" && value(&v)) {
      o->device = v;
    } else if (a == "--file" && value(&v)) {
      o->file = v;
    } else if (a == "--trace" && value(&v)) {
      o->tracePath = v;
    } else if (a == "--roundtrips" && value(&v)) {
      o->roundTripsPath = v;
    } else if (a == "--baud" && value(&v)) {
      o->baud = static_cast<uint32_t>(std::strtoul(v, nullptr, 10));
    } else if (a == "--reboot-seconds" && value(&v)) {
      o->rebootSeconds = std::strtod(v, nullptr);
    } else if (a == "--reply-bytes" && value(&v)) {
      o->replies.perLine = static_cast<uint32_t>(std::strtoul(v, nullptr, 10));
    } else if (a == "--version-bytes" && value(&v)) {
      o->replies.versionAnswer = static_cast<uint32_t>(std::strtoul(v, nullptr, 10));
    } else {
      return false;
    }
  }
  return !o->device.empty() && !o->file.empty();
}

struct CpuAndMemory {
  double userS, sysS;
  long maxRssKiB;
  long minorFaults, majorFaults, voluntarySwitches, involuntarySwitches;
};

CpuAndMemory TakeUsage(int who) {
  rusage ru{};
  getrusage(who, &ru);
  auto s = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return {s(ru.ru_utime), s(ru.ru_stime), ru.ru_maxrss, ru.ru_minflt, ru.ru_majflt, ru.ru_nvcsw,
          ru.ru_nivcsw};
}

// Collects the results as ordered key/value pairs and prints them in either form.
// The benchmark shows nothing of the download but the core's own boxes (out
// of memory), which would otherwise only reach the trace.
class BenchReport : public CoreReport {
 public:
  int MessageBox(const char* text, const char* caption, unsigned type) override {
    fprintf(stderr, "tarnwick-bench: %s: %s\n", caption, text);
    return CoreReport::MessageBox(text, caption, type);
  }
  void ShowProgress(const ProgressReport& p) override {
    // The core credits a block just before it sends it, and once more when
    // an image is done: between two updates lie whole packets, unless the gap
    // holds a pause (between images and sequences), which is left out.
    const Steady::time_point now = Steady::now();
    if (last_ && now - *last_ < kLongestPacket) dataS_ += std::chrono::duration<double>(now - *last_).count();
    last_ = now;
    if (p.totalBytes == 0) return;
    const uint64_t tenth = uint64_t{p.bytesSent} * kDeciles / p.totalBytes;
    g_decile = static_cast<int>(std::min<uint64_t>(tenth, kDeciles - 1));
  }
  // The counters of the current download sequence; each sequence starts
  // with them cleared, so a clear ends the one before.
  void ShowRetryStats(const char*, const RetryStats& s) override {
    if (s.startRetries == 0 && s.normalRetries == 0 && s.subpacketTimeouts == 0) {
      Fold();
    } else {
      current_ = s;
    }
  }
  void StartTiming() {
    last_.reset();
    dataS_ = 0;
    total_ = current_ = RetryStats{0, 0, 0};
  }
  // The failure counters of every sequence since StartTiming.
  RetryStats Retries() {
    Fold();
    return total_;
  }
  // Wall time spent sending data packets: the part of a download that grows
  // with the image.
  double DataSeconds() const { return dataS_; }

 private:
  static constexpr Steady::duration kLongestPacket = std::chrono::milliseconds(150);
  void Fold() {
    total_.startRetries += current_.startRetries;
    total_.normalRetries += current_.normalRetries;
    total_.subpacketTimeouts += current_.subpacketTimeouts;
    current_ = RetryStats{0, 0, 0};
  }

  std::optional<Steady::time_point> last_;
  double dataS_ = 0;
  RetryStats total_{0, 0, 0}, current_{0, 0, 0};
};

class Report {
 public:
  void Add(const std::string& key, const std::string& value, bool quoted = false) {
    items_.push_back({key, value, quoted});
  }
  void Num(const std::string& key, double v) {
    char buf[64];
    snprintf(buf, sizeof buf, "%.6g", v);
    Add(key, buf);
  }
  void Int(const std::string& key, uint64_t v) { Add(key, std::to_string(v)); }
  void Text(const std::string& key, const std::string& v) { Add(key, v, true); }
  void Print(bool json) const {
    if (!json) {
      for (const Item& i : items_) printf("%s=%s\n", i.key.c_str(), i.value.c_str());
      return;
    }
    printf("{");
    for (size_t k = 0; k < items_.size(); ++k) {
      const Item& i = items_[k];
      printf("%s\"%s\": ", k ? ", " : "", i.key.c_str());
      if (!i.quoted) {
        printf("%s", i.value.c_str());
        continue;
      }
      putchar('"');
      for (char c : i.value) {
        if (c == '"' || c == '\\') putchar('\\');
        putchar(c);
      }
      putchar('"');
    }
    printf("}\n");
  }

 private:
  struct Item {
    std::string key, value;
    bool quoted;
  };
  std::vector<Item> items_;
};

std::string Slug(const std::string& name) {
  std::string s;
  for (char c : name) {
    if (std::isalnum(static_cast<unsigned char>(c))) {
      s += c;
    } else if (!s.empty() && s.back() != '_') {
      s += '_';
    }
  }
  while (!s.empty() && s.back() == '_') s.pop_back();
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  if (!ParseArgs(argc, argv, &opt)) {
    Usage();
    return 2;
  }
  std::ifstream in(opt.file, std::ios::binary);
  std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) {
    fprintf(stderr, "tarnwick-bench: cannot read %s\n", opt.file.c_str());
    return 2;
  }
  if (!opt.tracePath.empty()) g_traceFile = fopen(opt.tracePath.c_str(), "w");
  SetTraceHook(CountTrace);
  BenchReport report;
  SetReport(&report);

  LoadSettings(&my_cfg);
  snprintf(my_cfg.device, sizeof my_cfg.device, "%s", opt.device.c_str());
  snprintf(my_cfg.file, sizeof my_cfg.file, "%s", opt.file.c_str());

  CountingBackend port(PlatformSerialBackend());
  if (!opt.bare) SetSerialBackend(&port);
  FILE* roundTrips = nullptr;
  if (!opt.roundTripsPath.empty()) {
    roundTrips = fopen(opt.roundTripsPath.c_str(), "w");
    if (roundTrips == nullptr) {
      fprintf(stderr, "tarnwick-bench: cannot write %s\n", opt.roundTripsPath.c_str());
      return 2;
    }
  }
  if (!startdom(static_cast<int32_t>(my_cfg.comport))) {
    fprintf(stderr, "tarnwick-bench: cannot open %s %s\n", opt.device.c_str(),
            ComOpenFailureHint().c_str());
    return 2;
  }
  int32_t ver = CheckFirmwareVer(&g_start_ver, 4);
  if (ver != 1) {
    fprintf(stderr, "tarnwick-bench: version check gave %d\n", ver);
    CloseCom();
    return 2;
  }

  // The measured interval is the download alone, as the worker runs it.
  port.Reset();
  port.LogRoundTrips(roundTrips);
  g_decile = 0;
  g_trace.lines = 0;
  g_trace.bytes = 0;
  report.StartTiming();
  CpuAndMemory self0 = TakeUsage(RUSAGE_SELF);
  CpuAndMemory thread0 = TakeUsage(RUSAGE_THREAD);
  auto t0 = Steady::now();
  const DownloadRecord record = DownloadImageFile(opt.file.c_str());
  const bool ok = record.ok;
  double wallS = SecondsSince(t0);
  CpuAndMemory thread1 = TakeUsage(RUSAGE_THREAD);
  CpuAndMemory self1 = TakeUsage(RUSAGE_SELF);
  CloseCom();
  SetSerialBackend(nullptr);
  SetReport(nullptr);
  SetTraceHook(nullptr);
  if (g_traceFile) fclose(g_traceFile);
  port.LogRoundTrips(nullptr);
  if (roundTrips) fclose(roundTrips);

  // Every failed status reply is a retry, followed by a recovery packet.
  const RetryStats retries = report.Retries();
  const uint32_t recovery = retries.startRetries + retries.normalRetries;
  const uint32_t firmwareAttempts = std::max<uint32_t>(1, record.firmwareAttempts);
  bench::ModelInput mi;
  mi.baud = opt.baud;
  mi.recoveryPackets = recovery;
  mi.rebootWaitMs = bench::RebootWaitMs(opt.rebootSeconds);
  mi.replies = opt.replies;
  std::vector<bench::ImageEntry> images = bench::ScanImageFile(image, my_cfg.signature);
  bench::DownloadPlan plan = bench::PlanDownload(images, firmwareAttempts);
  bench::Model m = bench::IdealTime(plan, mi);

  const CountingBackend::Counts& c = port.counts();
  double cpuS = (self1.userS - self0.userS) + (self1.sysS - self0.sysS);
  double threadCpuS = (thread1.userS - thread0.userS) + (thread1.sysS - thread0.sysS);
  double idealS = m.TotalMs() / 1000;
  double packets = m.packets > 0 ? static_cast<double>(m.packets) : 1;

  Report r;
  r.Text("file", opt.file);
  r.Int("file_bytes", image.size());
  r.Int("images", images.size());
  for (size_t i = 0; i < images.size(); ++i) {
    std::string k = "image." + std::to_string(i);
    r.Int(k + ".offset", images[i].offset);
    r.Int(k + ".length", images[i].length);
    r.Int(k + ".part", images[i].part);
  }
  r.Text("path", plan.reboot ? "reboot" : "normal");
  r.Int("ok", ok ? 1 : 0);
  r.Int("baud", opt.baud);
  r.Num("wall_s", wallS);
  r.Num("ideal_s", idealS);
  r.Num("ratio", wallS > 0 ? idealS / wallS : 0);
  r.Int("payload_bytes", m.payload);
  r.Num("throughput_Bps", wallS > 0 ? m.payload / wallS : 0);
  r.Num("cpu_user_s", self1.userS - self0.userS);
  r.Num("cpu_sys_s", self1.sysS - self0.sysS);
  r.Num("cpu_s", cpuS);
  r.Num("cpu_thread_s", threadCpuS);
  r.Num("cpu_share", wallS > 0 ? cpuS / wallS : 0);
  r.Int("rss_before_kib", static_cast<uint64_t>(self0.maxRssKiB));
  r.Int("rss_peak_kib", static_cast<uint64_t>(self1.maxRssKiB));
  r.Int("rss_growth_kib", static_cast<uint64_t>(self1.maxRssKiB - self0.maxRssKiB));
  r.Int("packets", m.packets);
  r.Int("subpackets", m.subpackets);
  r.Num("cpu_per_packet_us", cpuS / packets * 1e6);
  r.Num("beyond_ideal_per_packet_us", (wallS - idealS) / packets * 1e6);
  // The data packets alone: their line time in the model against the wall
  // time between the core's progress updates. Unlike `ratio`, the fixed
  // pauses do not lift it for small images.
  double dataIdealS = 0;
  for (const bench::Term& t : m.terms) {
    if (t.name == "data packets") dataIdealS = t.Ms() / 1000;
  }
  const double dataS = report.DataSeconds();
  r.Num("data_wall_s", dataS);
  r.Num("data_ideal_s", dataIdealS);
  r.Num("data_ratio", dataS > 0 ? dataIdealS / dataS : 0);
  r.Int("minor_faults", static_cast<uint64_t>(self1.minorFaults - self0.minorFaults));
  r.Int("major_faults", static_cast<uint64_t>(self1.majorFaults - self0.majorFaults));
  r.Int("voluntary_switches", static_cast<uint64_t>(self1.voluntarySwitches - self0.voluntarySwitches));
  r.Int("involuntary_switches",
        static_cast<uint64_t>(self1.involuntarySwitches - self0.involuntarySwitches));
  r.Int("model_bytes_out", m.bytesOut);
  r.Int("model_bytes_in", m.bytesIn);
  r.Num("model_pause_s", m.pauseMs / 1000);
  r.Num("model_line_s", m.lineMs / 1000);
  for (const bench::Term& t : m.terms) {
    std::string k = "term." + Slug(t.name);
    r.Int(k + ".count", t.count);
    r.Int(k + ".bytes", t.bytesOut + t.bytesIn);
    r.Num(k + ".ms", t.Ms());
  }
  r.Int("port_writes", c.writes);
  r.Int("port_bytes_written", c.bytesWritten);
  r.Int("port_reads", c.reads);
  r.Int("port_empty_reads", c.emptyReads);
  r.Int("port_bytes_read", c.bytesRead);
  r.Int("port_purges", c.purges);
  r.Int("port_waits", c.waits);
  r.Int("port_idle_waits", c.idleWaits);
  r.Num("port_write_s", c.writeS);
  r.Num("port_read_s", c.readS);
  r.Num("port_purge_s", c.purgeS);
  r.Num("port_wait_s", c.waitS);
  r.Num("turnaround_mean_us", port.turnaround().Mean());
  r.Num("turnaround_median_us", port.turnaround().Quantile(0.5));
  r.Num("turnaround_p90_us", port.turnaround().Quantile(0.9));
  r.Num("turnaround_p99_us", port.turnaround().Quantile(0.99));
  r.Num("roundtrip_mean_us", port.roundTrip().Mean());
  r.Num("roundtrip_median_us", port.roundTrip().Quantile(0.5));
  r.Num("roundtrip_p90_us", port.roundTrip().Quantile(0.9));
  r.Num("roundtrip_p99_us", port.roundTrip().Quantile(0.99));
  for (int d = 0; d < kDeciles; ++d) {
    const Histogram& h = port.roundTripInDecile(d);
    std::string k = "roundtrip.tenth" + std::to_string(d);
    r.Num(k + ".mean_us", h.Mean());
    r.Num(k + ".p99_us", h.Quantile(0.99));
  }
  r.Int("trace_lines", g_trace.lines);
  r.Int("trace_bytes", g_trace.bytes);
  r.Int("recovery_packets", recovery);
  r.Int("start_retries", retries.startRetries);
  r.Int("normal_retries", retries.normalRetries);
  r.Int("subpacket_timeouts", retries.subpacketTimeouts);
  r.Int("firmware_attempts", firmwareAttempts);
  r.Print(opt.json);
  return ok ? 0 : 1;
}
