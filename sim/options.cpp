#include "sim/options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace sim {
namespace {

bool ToUnsigned(const std::string& text, unsigned long long max, unsigned long long* out) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v > max) return false;
  *out = v;
  return true;
}

// Non-negative seconds, fractions allowed, at most a day.
bool ToMicros(const std::string& text, Micros unit, Micros* out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(v) || v < 0 ||
      v * static_cast<double>(unit) > 86400.0 * kMicrosPerSecond) {
    return false;
  }
  *out = static_cast<Micros>(std::llround(v * static_cast<double>(unit)));
  return true;
}

}  // namespace

bool ParseOptions(int argc, const char* const* argv, Options* out, std::string* error) {
  Options o;
  // A rehearsal takes as long as the real line: unpaced only when asked.
  o.engine.baud = kDefaultBaud;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool has_value = false;
    const size_t eq = arg.find('=');
    if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      has_value = true;
    }
    auto need = [&](std::string* v) {
      if (has_value) {
        *v = value;
        return true;
      }
      if (i + 1 >= argc) {
        *error = arg + " needs a value";
        return false;
      }
      *v = argv[++i];
      return true;
    };
    auto bad = [&](const std::string& v) {
      *error = "bad value for " + arg + ": \"" + v + "\"";
      return false;
    };
    auto flag = [&]() {
      if (!has_value) return true;
      *error = arg + " takes no value";
      return false;
    };
    std::string v;
    unsigned long long n = 0;

    if (arg == "--help" || arg == "-h") {
      o.help = true;
    } else if (arg == "--device") {
      if (!need(&o.device)) return false;
    } else if (arg == "--link") {
      if (!need(&o.link)) return false;
    } else if (arg == "--report") {
      if (!need(&o.report)) return false;
    } else if (arg == "--out") {
      if (!need(&o.engine.out_dir)) return false;
    } else if (arg == "--verbose") {
      if (!flag()) return false;
      o.verbose = true;
    } else if (arg == "--exit-after-download") {
      o.exit_after_downloads = 1;
      if (has_value) {
        if (!ToUnsigned(value, 1000000, &n) || n == 0) return bad(value);
        o.exit_after_downloads = static_cast<int>(n);
      }
    } else if (arg == "--timeout") {
      if (!need(&v) || !ToMicros(v, kMicrosPerSecond, &o.timeout) || o.timeout == 0) return bad(v);
    } else if (arg == "--linger") {
      if (!need(&v) || !ToMicros(v, kMicrosPerSecond, &o.linger)) return bad(v);
    } else if (arg == "--version") {
      if (!need(&v) || !ParseVersion(v, &o.engine.version)) return bad(v);
    } else if (arg == "--new-version") {
      if (!need(&v) || !ParseVersion(v, &o.engine.new_version)) return bad(v);
      o.engine.has_new_version = true;
    } else if (arg == "--reboot-seconds") {
      if (!need(&v) || !ToMicros(v, kMicrosPerSecond, &o.engine.reboot_time)) return bad(v);
    } else if (arg == "--quiet-boot") {
      if (!flag()) return false;
      o.engine.quiet_boot = true;
    } else if (arg == "--baud") {
      if (!need(&v) || !ToUnsigned(v, 10000000, &n)) return bad(v);
      o.engine.baud = static_cast<long>(n);
    } else if (arg == "--require-baud") {
      if (!need(&v) || !ToUnsigned(v, 10000000, &n) || n == 0) return bad(v);
      o.require_baud = static_cast<long>(n);
    } else if (arg == "--latency-ms") {
      if (!need(&v) || !ToMicros(v, kMicrosPerMs, &o.engine.latency)) return bad(v);
    } else if (arg == "--latency-chars") {
      if (!need(&v) || !ToUnsigned(v, 65536, &n) || n == 0) return bad(v);
      o.engine.latency_chars = static_cast<size_t>(n);
    } else if (arg == "--event-char") {
      if (!need(&v) || v.empty()) return bad(v);
      o.engine.event_chars = v;
    } else if (arg == "--usb-frame-ms") {
      if (!need(&v) || !ToMicros(v, kMicrosPerMs, &o.engine.usb_frame)) return bad(v);
    } else if (arg == "--pace-ms") {
      if (!need(&v) || !ToMicros(v, kMicrosPerMs, &o.engine.pace_tolerance)) return bad(v);
    } else if (arg == "--reject") {
      if (!need(&v)) return false;
      const size_t colon = v.find(':');
      char digit = '2';
      if (colon != std::string::npos) {
        const std::string d = v.substr(colon + 1);
        if (d.size() != 1 || d[0] < '0' || d[0] > '9') return bad(v);
        digit = d[0];
      }
      if (!ToUnsigned(v.substr(0, colon), 0xFFFFFFFFu, &n) || n == 0) return bad(v);
      o.engine.faults.reject.emplace_back(static_cast<uint32_t>(n), digit);
    } else if (arg == "--withhold-star") {
      if (!need(&v) || !ToUnsigned(v, ~0ull, &n) || n == 0) return bad(v);
      o.engine.faults.withhold_star.push_back(n);
    } else if (arg == "--no-status") {
      if (!need(&v) || !ToUnsigned(v, 0xFFFFFFFFu, &n) || n == 0) return bad(v);
      o.engine.faults.no_status.push_back(static_cast<uint32_t>(n));
    } else if (arg == "--bare-status") {
      if (!need(&v) || !ToUnsigned(v, 0xFFFFFFFFu, &n)) return bad(v);
      o.engine.faults.bare_status.push_back(static_cast<uint32_t>(n));
    } else if (arg == "--silent-seconds") {
      if (!need(&v) || !ToMicros(v, kMicrosPerSecond, &o.engine.faults.silent_time)) return bad(v);
    } else if (arg == "--never-return") {
      if (!flag()) return false;
      o.engine.faults.never_return = true;
    } else if (arg == "--stale-reboots") {
      if (!need(&v) || !ToUnsigned(v, 1000000, &n)) return bad(v);
      o.engine.faults.stale_reboots = static_cast<int>(n);
    } else if (arg == "--noise") {
      if (!flag()) return false;
      o.engine.faults.noise = true;
    } else if (arg == "--busy-version") {
      if (!need(&v) || !ToUnsigned(v, 0xFFFFFFFFu, &n) || n == 0) return bad(v);
      o.engine.faults.busy_version.push_back(static_cast<uint32_t>(n));
    } else if (arg == "--late-boot-text") {
      if (!flag()) return false;
      o.engine.faults.late_boot_text = true;
    } else if (arg == "--reject-part") {
      if (!need(&v)) return false;
      char* end = nullptr;
      errno = 0;
      const unsigned long part = std::strtoul(v.c_str(), &end, 0);
      if (v.empty() || errno != 0 || *end != '\0' || part > 0xFF) return bad(v);
      o.engine.faults.reject_part.push_back(static_cast<int>(part));
    } else if (arg == "--vanish-after-packets") {
      if (!need(&v) || !ToUnsigned(v, 0xFFFFFFFFu, &n) || n == 0) return bad(v);
      o.vanish_after_packets = static_cast<uint32_t>(n);
    } else if (arg == "--vanish-after-terminators") {
      if (!need(&v) || !ToUnsigned(v, 0xFFFFFFFFu, &n) || n == 0) return bad(v);
      o.vanish_after_terminators = static_cast<uint32_t>(n);
    } else if (arg == "--come-back") {
      if (!need(&v) || !ToMicros(v, kMicrosPerSecond, &o.come_back)) return bad(v);
    } else if (arg == "--split-replies") {
      if (!need(&v) || !ToMicros(v, kMicrosPerMs, &o.engine.faults.split_gap)) return bad(v);
    } else {
      *error = "unknown option " + arg;
      return false;
    }
  }
  const bool vanishes = o.vanish_after_packets > 0 || o.vanish_after_terminators > 0;
  if (o.come_back >= 0 && !vanishes) {
    *error = "--come-back needs --vanish-after-packets or --vanish-after-terminators";
    return false;
  }
  if (o.come_back >= 0 && o.link.empty()) {
    *error = "--come-back needs --link: the new pseudo-terminal has a new name";
    return false;
  }
  if (vanishes && !o.device.empty()) {
    *error = "--vanish-after-packets and -terminators work on a pseudo-terminal, not with --device";
    return false;
  }
  *out = o;
  return true;
}

std::string UsageText() {
  return
      "usage: expander-sim [options]\n"
      "Serves a simulated expander console on a new pseudo-terminal (its path is\n"
      "the first line of standard output) or on a serial device.\n"
      "\n"
      "Line:\n"
      "  --device PATH          serve this serial device (115200 8N1 raw) instead\n"
      "  --link PATH            symlink PATH to the pseudo-terminal while running\n"
      "  --baud N               pace input and output at N baud, 10 bits a byte (default\n"
      "                         115200, the real line; 0: as fast as the host goes)\n"
      "  --require-baud N       the line's settings must say N baud: bytes from the host\n"
      "                         while whoever holds the pseudo-terminal has set another\n"
      "                         rate are garbled (dropped) and reported\n"
      "  --latency-ms N         a USB adapter's latency timer: bytes to the host wait until N ms\n"
      "                         after the first of them, or until --latency-chars are waiting\n"
      "  --latency-chars K      bytes that fill one USB packet and leave at once (default 62)\n"
      "  --event-char C         the adapter's event character(s): held bytes leave at once\n"
      "                         when one of C is among them (with --latency-ms)\n"
      "  --usb-frame-ms F       bytes to the host leave only at F ms frame boundaries\n"
      "Expander:\n"
      "  --version A.B.C.D      running firmware version (default 1.02.0000.10)\n"
      "  --new-version A.B.C.D  version after a reboot that follows a firmware image\n"
      "                         (default: the image's version record, else revision+1)\n"
      "  --reboot-seconds S     console silent this long after a reboot (default 5)\n"
      "  --quiet-boot           no banner and prompt when the console comes up\n"
      "  --out DIR              save received images as DIR/image-<n>-part-<xx>.bin\n"
      "Judging and exit:\n"
      "  --report FILE          write the JSON report to FILE at exit\n"
      "  --pace-ms MS           console byte gaps under MS count as too fast (default 5)\n"
      "  --exit-after-download[=N]  exit after N (default 1) terminated download\n"
      "                         sequences, once the line has been quiet --linger seconds\n"
      "  --linger S             quiet time before that exit (default 2)\n"
      "  --timeout S            exit after S seconds\n"
      "  --verbose              log what happens to standard error\n"
      "Faults:\n"
      "  --reject K[:D]         answer the K-th data packet's first attempt with \"@D\" (D default 2)\n"
      "  --no-status K          no status reply for the K-th data packet's first attempt\n"
      "  --bare-status K        status digit without '@' for the K-th data packet (0: all)\n"
      "  --withhold-star N      no '*' for the N-th sub-packet of the run\n"
      "  --silent-seconds S     console silent for the first S seconds\n"
      "  --never-return         the first reboot never ends\n"
      "  --stale-reboots N      the first N reboots after a firmware image keep the old version\n"
      "  --noise                stray bytes (controls, bytes above 0x7F) around every reply\n"
      "  --split-replies MS     MS milliseconds between the bytes of every reply\n"
      "  --busy-version K       answer the K-th version query with a busy text without a version\n"
      "  --late-boot-text       after every boot, the first line that is more than spaces draws,\n"
      "                         after its prompt, a boot-ROM line with a version of its own\n"
      "  --reject-part P        answer every data packet of images of part P (0x06, 0xFF, ...) \"@2\"\n"
      "The cable comes out:\n"
      "  --vanish-after-packets K  right after the K-th data packet arrives (unanswered), close\n"
      "                         the pseudo-terminal, so the host sees a hang-up, and remove --link\n"
      "  --vanish-after-terminators K  the same right after the K-th terminating header\n"
      "  --come-back S          S seconds later serve a new pseudo-terminal at the same --link\n"
      "                         (its path is printed as a further line), the console up again\n"
      "                         as after a power cycle, the cut sequence abandoned\n"
      "Options that take K or N may be repeated.\n"
      "expander-sim --version alone prints the program's version.\n"
      "Exit status: 0 clean, 1 violations seen, 2 usage or setup error,\n"
      "3 --timeout came before the downloads --exit-after-download waited for.\n";
}

}  // namespace sim
