// A simulated expander for download tests, on the scripted backend: it
// answers the space prompt, the version query (with the version of its
// current boot), reboots after the reboot command, enters download mode on
// its two commands, and takes packet lines, reassembling every image it
// receives byte for byte. Tests turn its knobs to make it misbehave.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "console_peer.h"
#include "scripted_expander.h"

class DownloadPeer {
 public:
  explicit DownloadPeer(ScriptedExpander& exp);

  // The version reported in each boot (boot 0 runs before the first reboot);
  // boots past the end report the last one.
  std::vector<std::string> versions{"0.01.0000.05"};
  // From this boot on the prompt is not answered (-1: always answered).
  int silentFromBoot = -1;
  // In boot `muteBoot`, the first `muteQueries` version queries go unanswered.
  int muteBoot = -1;
  int muteQueries = 0;
  // Status digit for the data packets of received image `index` (0-based,
  // counted over the whole run); '0' when not set.
  std::function<char(int index)> statusFor;
  // Told of each step: "prompt", "query", "reboot", "enter", "packet" (a data
  // packet, with the index of its image) and "terminator".
  std::function<void(const std::string& event, int index)> onEvent;

  struct Image {
    std::string bytes;
    bool bootloaderFlag;  // g_bBootLoaderInProgress when its first packet came
    bool contiguous;      // every accepted packet continued where the last ended
  };
  const std::vector<Image>& images() const { return images_; }
  int boot() const { return boot_; }
  int enters() const { return enters_; }
  int terminators() const { return terminators_; }
  int rebootCommands() const { return rebootCmds_; }
  int queries() const { return queries_; }
  int recoveries() const { return recoveries_; }
  ConsolePeer& console() { return console_; }

 private:
  void OnLine(ScriptedExpander& exp, const std::string& line);
  void OnPacket(ScriptedExpander& exp, const std::string& line);
  void Event(const char* name, int index = -1) {
    if (onEvent) onEvent(name, index);
  }

  ConsolePeer console_;
  std::vector<Image> images_;
  int boot_ = 0;
  int enters_ = 0;
  int terminators_ = 0;
  int rebootCmds_ = 0;
  int queries_ = 0;
  int queriesThisBoot_ = 0;
  int recoveries_ = 0;
  bool armed_ = false;  // first download-mode command seen
};

// Image file pieces: an image header with signature "VRQ", `part` and a body
// of `bodyLen` bytes derived from `seed`; and an 8-byte version record.
std::string MakeImage(uint8_t part, uint32_t bodyLen, uint8_t seed);
std::string MakeVersionRecord(uint8_t major, uint8_t minor, uint8_t build, uint8_t revision);
