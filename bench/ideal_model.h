// The floor under a download's duration: every byte that must cross the
// serial line one after another, plus every fixed pause the download makes.
// Whatever a measured download takes beyond this is the program's own cost
// (and the peer's). The model reads the image file's layout itself, so a fault
// in the program's parser cannot make the model agree with it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// One image as the download cuts it out of the file: header and body.
struct ImageEntry {
  uint32_t offset;  // of the header in the file
  uint32_t length;  // header + body, cut at the file's end
  uint8_t part;     // 0x06 firmware, 0xFF bootloader, others plain
};

// Finds the images of an image file: a header starts where the first bytes
// spell `signature` (ASCII case ignored, at most 8 compared, a NUL never
// matches); its body length is big-endian at bytes 16..19, its part at byte 10.
// 8-byte version records (34 12 CD AB ...) are stepped over; any other byte
// is stepped over alone. At most 16 images are kept; the first bootloader is
// moved last, as the download orders them.
std::vector<ImageEntry> ScanImageFile(const std::vector<uint8_t>& file,
                                      const std::string& signature);

// What the download will send: one or more download sequences (each framed by
// entering and leaving download mode), with a reboot and version check after
// every firmware sequence on the path with rebooting.
struct DownloadPlan {
  bool reboot = false;
  uint32_t reboots = 0;
  std::vector<std::vector<uint32_t>> sequences;  // image lengths, in order
};

// `firmwareAttempts` (at least 1) counts the firmware sequences on the path
// with rebooting: more than one when the version did not change after a reboot.
DownloadPlan PlanDownload(const std::vector<ImageEntry>& images, uint32_t firmwareAttempts);

// What the simulated console sends back to console lines, in bytes. These
// replies arrive inside the fixed pauses behind each line.
struct ConsoleReplies {
  uint32_t perLine = 0;        // answer to every console line (echo, prompt)
  uint32_t versionAnswer = 0;  // the version text on top of perLine
};

struct ModelInput {
  uint32_t baud = 115200;        // 0: no line-rate limit (line time counts 0)
  uint32_t bitsPerByte = 10;     // start bit, 8 data bits, stop bit
  // Recovery packets sent during the run (observed). Each follows a failed
  // attempt, so each also stands for one data packet sent again, counted as a
  // full one. The time-out that failed the attempt is no part of any floor.
  uint32_t recoveryPackets = 0;
  double rebootWaitMs = 0;       // console silent after a reboot beyond the fixed pauses
  ConsoleReplies replies;
};

// One named share of the ideal time.
struct Term {
  std::string name;
  uint64_t count = 0;     // how many of the thing this term counts
  uint64_t bytesOut = 0;  // PC to expander
  uint64_t bytesIn = 0;   // expander to PC
  double pauseMs = 0;     // fixed pauses and paced writes
  double lineMs = 0;      // (bytesOut + bytesIn) on the line
  double Ms() const { return pauseMs + lineMs; }
};

struct Model {
  std::vector<Term> terms;
  uint64_t packets = 0;     // data packets, first attempts
  uint64_t subpackets = 0;  // of those packets
  uint64_t payload = 0;     // image bytes carried by those packets
  uint64_t bytesOut = 0;
  uint64_t bytesIn = 0;
  double pauseMs = 0;
  double lineMs = 0;
  double TotalMs() const { return pauseMs + lineMs; }
};

// Line characters of a packet of `packetBytes` bytes: base64 text and 0x7F.
uint32_t PacketLineChars(uint32_t packetBytes);
// 12-character pieces of a line of `lineChars` characters.
uint32_t SubpacketCount(uint32_t lineChars);

Model IdealTime(const DownloadPlan& plan, const ModelInput& in);

// Silence beyond the fixed pauses after a reboot, for a console that is down
// `rebootSeconds` from taking the first reboot line and announces its prompt
// when it is back; the prompt is looked for once a second.
double RebootWaitMs(double rebootSeconds);

}  // namespace bench
