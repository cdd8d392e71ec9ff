#include "sim/download.h"

#include <cstdio>
#include <cstring>

namespace sim {
namespace {

constexpr size_t kImageHeaderBytes = 28;
constexpr size_t kPartByte = 10;
constexpr size_t kLengthField = 16;
// A header length beyond this is taken as not a length at all.
constexpr uint64_t kLargestImage = 256ull * 1024 * 1024;

std::string Format(const char* format, unsigned long long a = 0, unsigned long long b = 0,
                   unsigned long long c = 0) {
  char text[200];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

}  // namespace

bool ImageRecord::Ended() const {
  if (declared_size != 0 && data.size() >= declared_size) return true;
  return last_block < kMaxPayload;
}

void DownloadSession::BeginSequence() {
  in_sequence_ = true;
  ++sequence_;
  sequence_first_image_ = images_.size();
  last_ = Last::kNone;
  recovered_ = false;
}

std::vector<size_t> DownloadSession::EndSequence(bool terminated) {
  std::vector<size_t> indexes;
  for (size_t i = sequence_first_image_; i < images_.size(); ++i) {
    images_[i].terminated = terminated;
    indexes.push_back(i);
  }
  in_sequence_ = false;
  sequence_first_image_ = images_.size();
  return indexes;
}

ImageRecord* DownloadSession::Current() {
  if (images_.size() <= sequence_first_image_) return nullptr;
  return &images_.back();
}

Verdict DownloadSession::Examine(const Packet& packet) {
  using Placement = Verdict::Placement;
  Verdict v;
  const uint32_t offset = packet.offset;
  if (last_ == Last::kFailed && !recovered_) {
    v.violations.push_back(
        Format("packet at offset %llu after a failed packet without a recovery packet", offset));
  }
  ImageRecord* image = Current();
  const uint64_t expected = image ? image->data.size() : 0;
  v.retry = last_ == Last::kFailed && offset == (failed_offset_known_ ? failed_offset_ : expected);

  if (image && last_ == Last::kAccepted && recovered_ && offset == accepted_offset_) {
    // The host missed our acceptance, recovered and sent the block again.
    v.retry = true;
    v.placement = Placement::kResend;
    const size_t at = offset;
    if (at + packet.payload.size() != image->data.size() ||
        std::memcmp(image->data.data() + at, packet.payload.data(), packet.payload.size()) != 0) {
      v.violations.push_back(
          Format("packet at offset %llu re-sent with other data than before", offset));
    } else {
      v.good = true;
    }
  } else if (image && offset == expected && expected > 0) {
    if (image->last_block < kMaxPayload) {
      v.violations.push_back(Format("block at offset %llu follows a short block of %llu bytes",
                                    offset, image->last_block));
    } else if (image->declared_size != 0 &&
               expected + packet.payload.size() > image->declared_size) {
      v.violations.push_back(Format("image %llu grows past the %llu bytes its header declares",
                                    image->number, image->declared_size));
    }
    v.good = true;
    v.placement = Placement::kAppend;
  } else if (offset == 0) {
    if (image && !image->Ended()) {
      v.violations.push_back(Format("image %llu restarted at offset 0 after %llu of %llu bytes",
                                    image->number, image->data.size(), image->declared_size));
    }
    v.good = true;
    v.placement = Placement::kNewImage;
  } else {
    v.violations.push_back(
        Format("non-contiguous offset %llu (expected %llu)", offset, expected));
  }
  if (!v.retry) {
    v.first_attempt = true;
    v.ordinal = ++first_attempts_;
  }
  return v;
}

void DownloadSession::Accept(const Packet& packet, const Verdict& verdict) {
  using Placement = Verdict::Placement;
  ImageRecord* image = Current();
  if (verdict.placement == Placement::kAppend && image) {
    image->data.insert(image->data.end(), packet.payload.begin(), packet.payload.end());
    image->last_block = packet.payload.size();
  } else if (verdict.placement == Placement::kNewImage) {
    ImageRecord fresh;
    fresh.number = static_cast<int>(images_.size()) + 1;
    fresh.sequence = sequence_;
    fresh.data = packet.payload;
    fresh.last_block = packet.payload.size();
    if (fresh.data.size() > kPartByte) fresh.part = fresh.data[kPartByte];
    if (fresh.data.size() >= kLengthField + 4) {
      const uint64_t body = (uint64_t(fresh.data[kLengthField]) << 24) |
                            (uint64_t(fresh.data[kLengthField + 1]) << 16) |
                            (uint64_t(fresh.data[kLengthField + 2]) << 8) |
                            uint64_t(fresh.data[kLengthField + 3]);
      if (body <= kLargestImage) fresh.declared_size = body + kImageHeaderBytes;
    }
    images_.push_back(std::move(fresh));
  }
  // kResend: the same bytes are stored already.
  last_ = Last::kAccepted;
  accepted_offset_ = packet.offset;
  recovered_ = false;
}

void DownloadSession::Fail(bool offset_known, uint32_t offset) {
  // An undecodable re-send keeps the offset of the failure before it.
  if (offset_known) {
    failed_offset_known_ = true;
    failed_offset_ = offset;
  } else if (last_ != Last::kFailed) {
    failed_offset_known_ = false;
  }
  last_ = Last::kFailed;
  recovered_ = false;
}

std::string DownloadSession::Recover() {
  std::string violation;
  if (recovered_) {
    violation = "second recovery packet in a row";
  } else if (last_ != Last::kFailed) {
    violation = "recovery packet although no packet had failed";
  }
  recovered_ = true;
  return violation;
}

std::string DownloadSession::CheckTerminator() const {
  if (last_ == Last::kFailed && !recovered_) {
    return "terminating header after a failed packet without a recovery packet";
  }
  return "";
}

bool FindVersionRecord(const std::vector<uint8_t>& image, Version* out) {
  static const uint8_t kMagicBytes[] = {0x34, 0x12, 0xCD, 0xAB};
  bool found = false;
  for (size_t i = kImageHeaderBytes; i + 8 <= image.size(); ++i) {
    if (std::memcmp(image.data() + i, kMagicBytes, 4) == 0) {
      out->major = image[i + 4];
      out->minor = image[i + 5];
      out->build = image[i + 6];
      out->revision = image[i + 7];
      found = true;
    }
  }
  return found;
}

}  // namespace sim
