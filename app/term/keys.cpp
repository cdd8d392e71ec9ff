#include "app/term/keys.h"

#include <algorithm>
#include <cstdlib>

#include "app/term/text_util.h"

namespace {

const char kPasteEnd[] = "\x1b[201~";
constexpr size_t kPasteMarkerLen = 6;
// A control sequence longer than this is garbage, not a key.
constexpr size_t kMaxSequence = 32;

bool IsFinalByte(unsigned char c) { return c >= 0x40 && c <= 0x7E; }

// The key of a complete SS3 sequence ("ESC O" final).
bool Ss3Key(char final, Key* key) {
  switch (final) {
    case 'A': *key = Key::Of(KeyCode::kUp); return true;
    case 'B': *key = Key::Of(KeyCode::kDown); return true;
    case 'C': *key = Key::Of(KeyCode::kRight); return true;
    case 'D': *key = Key::Of(KeyCode::kLeft); return true;
    case 'H': *key = Key::Of(KeyCode::kHome); return true;
    case 'F': *key = Key::Of(KeyCode::kEnd); return true;
    case 'M': *key = Key::Of(KeyCode::kEnter); return true;
    default: return false;
  }
}

// The key of a complete CSI sequence ("ESC [" params final); the code is
// false for sequences that are no key of ours (mouse, reports, F-keys).
bool CsiKey(const std::string& params, char final, Key* key) {
  // Modifiers ("1;5C" for Ctrl+Right) do not change the key here.
  int first = atoi(params.c_str());
  switch (final) {
    case 'Z': *key = Key::Of(KeyCode::kBackTab); return true;
    case 'M': return false;  // keypad Enter comes only as SS3
    case '~':
      switch (first) {
        case 1: case 7: *key = Key::Of(KeyCode::kHome); return true;
        case 4: case 8: *key = Key::Of(KeyCode::kEnd); return true;
        case 3: *key = Key::Of(KeyCode::kDelete); return true;
        case 5: *key = Key::Of(KeyCode::kPageUp); return true;
        case 6: *key = Key::Of(KeyCode::kPageDown); return true;
        default: return false;
      }
    default:
      // Arrows, Home and End end the same way after "ESC [" as after "ESC O".
      return Ss3Key(final, key);
  }
}

// Bytes in the UTF-8 character that `lead` begins; 1 for ASCII and for bytes
// that cannot begin one (they are taken as they are).
size_t Utf8Length(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 1;
}

}  // namespace

void KeyDecoder::Feed(const char* data, size_t n, std::vector<Key>* out) {
  for (size_t i = 0; i < n; ++i) {
    if (inPaste_) {
      FeedPaste(data[i], out);
      continue;
    }
    pending_.push_back(data[i]);
    while (!pending_.empty() && !inPaste_ && DecodeOne(out)) {
    }
    // A paste began inside this chunk: its bytes are not keys.
    if (inPaste_) {
      std::string rest = pending_;
      pending_.clear();
      for (char c : rest) FeedPaste(c, out);
    }
  }
}

void KeyDecoder::Flush(std::vector<Key>* out) {
  if (pending_ == "\x1b") out->push_back(Key::Of(KeyCode::kEscape));
  pending_.clear();
}

void KeyDecoder::FeedPaste(char c, std::vector<Key>* out) {
  if (paste_.size() < kMaxPaste) paste_.push_back(c);
  ++pasteSeen_;
  pasteTail_.push_back(c);
  if (pasteTail_.size() > kPasteMarkerLen) pasteTail_.erase(0, pasteTail_.size() - kPasteMarkerLen);
  if (pasteTail_ != kPasteEnd) return;
  // The text is everything before the end marker, as far as it was kept: a
  // paste that ends near the limit has part of the marker in paste_.
  size_t keep = std::min(paste_.size(), pasteSeen_ - kPasteMarkerLen);
  out->push_back(Key{KeyCode::kPaste, paste_.substr(0, keep), 0});
  inPaste_ = false;
  paste_.clear();
  pasteTail_.clear();
  pasteSeen_ = 0;
}

bool KeyDecoder::DecodeOne(std::vector<Key>* out) {
  unsigned char c = static_cast<unsigned char>(pending_[0]);
  size_t used = 1;
  if (c == 0x1B) {
    used = DecodeEscape(out);
    if (used == 0) return false;
  } else if (c == '\t') {
    out->push_back(Key::Of(KeyCode::kTab));
  } else if (c == '\r' || c == '\n') {
    out->push_back(Key::Of(KeyCode::kEnter));
  } else if (c == 0x7F || c == 0x08) {
    out->push_back(Key::Of(KeyCode::kBackspace));
  } else if (c >= 0x01 && c <= 0x1A) {
    out->push_back(Key::Ctrl(static_cast<char>('a' + c - 1)));
  } else if (c < 0x20) {
    // NUL and Ctrl with a punctuation key: no meaning here.
  } else {
    used = Utf8Length(c);
    if (pending_.size() < used) return false;
    for (size_t i = 1; i < used; ++i) {
      if (!IsUtf8Continuation(static_cast<unsigned char>(pending_[i]))) {
        used = 1;  // a broken character: its lead byte stands alone
        break;
      }
    }
    out->push_back(Key::Text(pending_.substr(0, used)));
  }
  pending_.erase(0, used);
  return true;
}

// Decodes the escape sequence at the front of pending_; returns the bytes it
// used, 0 when more are needed.
size_t KeyDecoder::DecodeEscape(std::vector<Key>* out) {
  if (pending_.size() < 2) return 0;
  unsigned char c = static_cast<unsigned char>(pending_[1]);
  if (c == '[') {
    size_t i = 2;
    while (i < pending_.size() && !IsFinalByte(static_cast<unsigned char>(pending_[i]))) ++i;
    if (i >= pending_.size()) {
      if (pending_.size() > kMaxSequence) return pending_.size();  // garbage: drop it
      return 0;
    }
    std::string params = pending_.substr(2, i - 2);
    char final = pending_[i];
    if (final == '~' && params == "200") {
      inPaste_ = true;
      paste_.clear();
      pasteTail_.clear();
      pasteSeen_ = 0;
    } else {
      Key key = Key::Of(KeyCode::kEscape);
      if (CsiKey(params, final, &key)) out->push_back(key);
    }
    return i + 1;
  }
  if (c == 'O') {
    if (pending_.size() < 3) return 0;
    Key key = Key::Of(KeyCode::kEscape);
    if (Ss3Key(pending_[2], &key)) out->push_back(key);
    return 3;
  }
  if (c >= 0x21 && c <= 0x7E) {
    char ch = static_cast<char>(c);
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    out->push_back(Key::Alt(ch));
    return 2;
  }
  // ESC before anything else (another ESC, a control key, text): a plain
  // Escape, and the next byte is decoded on its own.
  out->push_back(Key::Of(KeyCode::kEscape));
  return 1;
}
