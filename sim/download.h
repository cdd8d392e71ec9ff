// Images assembled from the data packets of download sequences, and the
// rules that tie packets together: offsets contiguous from 0 within an
// image, 256-byte blocks but the last, a recovery packet after every failed
// packet before anything else, a retry only of the packet that failed.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "sim/packet.h"
#include "sim/types.h"

namespace sim {

struct ImageRecord {
  int number = 0;                // 1-based over the whole run
  int sequence = 0;              // 1-based download sequence it arrived in
  std::vector<uint8_t> data;     // the image as received, header included
  int part = -1;                 // byte 10 of the image header; -1 if the image is shorter
  uint64_t declared_size = 0;    // header length field + 28; 0 if unknown
  size_t last_block = 0;         // size of the last block received
  bool terminated = false;       // its sequence ended with a terminating header
  std::string file;              // where it was saved, if it was
  std::string save_error;        // why saving failed, if it did

  // The image is over: it holds at least what its header declares, or its
  // last block was short.
  bool Ended() const;
};

// What the session makes of a data packet before it is answered.
struct Verdict {
  enum class Placement { kNone, kAppend, kNewImage, kResend };
  bool good = false;         // in sequence; may be stored
  Placement placement = Placement::kNone;
  bool retry = false;        // re-sends the packet before it
  bool first_attempt = false;
  uint32_t ordinal = 0;      // first attempts: 1-based count over the run
  std::vector<std::string> violations;
};

class DownloadSession {
 public:
  void BeginSequence();
  // The sequence ended: terminated by a terminating header, or abandoned.
  // Returns the indexes into images() of the sequence's images.
  std::vector<size_t> EndSequence(bool terminated);
  bool InSequence() const { return in_sequence_; }

  // Judges a data packet against what came before; stores nothing.
  Verdict Examine(const Packet& packet);
  // Stores a packet that Examine called good and that was answered as accepted.
  void Accept(const Packet& packet, const Verdict& verdict);
  // The last packet line failed (rejected, unanswered or undecodable).
  // offset_known is false when the line did not decode.
  void Fail(bool offset_known, uint32_t offset);
  // A recovery packet arrived; returns a violation text, or "" if it was due.
  std::string Recover();
  // A terminating header arrived; returns a violation text, or "".
  std::string CheckTerminator() const;

  std::vector<ImageRecord>& images() { return images_; }
  const std::vector<ImageRecord>& images() const { return images_; }
  int sequences_begun() const { return sequence_; }

 private:
  enum class Last { kNone, kAccepted, kFailed };

  ImageRecord* Current();

  std::vector<ImageRecord> images_;
  size_t sequence_first_image_ = 0;
  bool in_sequence_ = false;
  int sequence_ = 0;
  uint32_t first_attempts_ = 0;
  Last last_ = Last::kNone;
  bool recovered_ = false;          // a recovery packet since the last failure or acceptance
  bool failed_offset_known_ = false;
  uint32_t failed_offset_ = 0;
  uint32_t accepted_offset_ = 0;
};

// The last firmware version record (34 12 CD AB then four version bytes)
// inside an image, past its 28-byte header; false if there is none.
bool FindVersionRecord(const std::vector<uint8_t>& image, Version* out);

}  // namespace sim
