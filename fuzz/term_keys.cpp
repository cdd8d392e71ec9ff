// Bytes from a terminal: keys, escape sequences of any terminal, pastes of
// anything, line noise. Properties of the key decoder:
// - the keys do not depend on how the bytes are split between reads;
// - every key is well formed: text is one character (a valid UTF-8 sequence
//   or a single byte, never a control byte), Alt and Ctrl carry what they
//   say, a paste is at most kMaxPaste bytes;
// - text without control bytes comes back as it went in (less a character
//   cut off at the very end);
// - a bracketed paste of the input gives one paste key holding it.
#include <cstdint>
#include <string>
#include <vector>

#include "app/term/keys.h"
#include "fuzz_support.h"

namespace {

const char kPasteBegin[] = "\x1b[200~";
const char kPasteEnd[] = "\x1b[201~";

bool SameKeys(const std::vector<Key>& a, const std::vector<Key>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].code != b[i].code || a[i].text != b[i].text || a[i].ch != b[i].ch) return false;
  return true;
}

std::vector<Key> DecodeInChunks(const std::string& in, uint32_t seed) {
  KeyDecoder d;
  std::vector<Key> keys;
  size_t pos = 0;
  while (pos < in.size()) {
    seed = seed * 1103515245u + 12345u;
    size_t n = 1 + (seed >> 16) % 9;
    if (n > in.size() - pos) n = in.size() - pos;
    d.Feed(in.data() + pos, n, &keys);
    pos += n;
  }
  d.Flush(&keys);
  return keys;
}

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

void CheckKey(const Key& k) {
  switch (k.code) {
    case KeyCode::kText: {
      FUZZ_CHECK(k.text.size() >= 1 && k.text.size() <= 4);
      const unsigned char lead = static_cast<unsigned char>(k.text[0]);
      FUZZ_CHECK(lead >= 0x20 && lead != 0x7F);
      for (size_t i = 1; i < k.text.size(); ++i)
        FUZZ_CHECK(IsContinuation(static_cast<unsigned char>(k.text[i])));
      if (k.text.size() > 1) FUZZ_CHECK(lead >= 0xC2 && lead <= 0xF4);
      break;
    }
    case KeyCode::kPaste: FUZZ_CHECK(k.text.size() <= KeyDecoder::kMaxPaste); break;
    case KeyCode::kAlt: FUZZ_CHECK(k.ch >= 0x21 && k.ch <= 0x7E && !(k.ch >= 'A' && k.ch <= 'Z')); break;
    case KeyCode::kCtrl:
      // Tab, Enter and Backspace have keys of their own.
      FUZZ_CHECK(k.ch >= 'a' && k.ch <= 'z' && k.ch != 'h' && k.ch != 'i' && k.ch != 'j' && k.ch != 'm');
      break;
    default: FUZZ_CHECK(k.text.empty()); break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string in(reinterpret_cast<const char*>(data), size);

  KeyDecoder whole;
  std::vector<Key> keys;
  whole.Feed(in.data(), in.size(), &keys);
  whole.Flush(&keys);
  for (const Key& k : keys) CheckKey(k);

  FUZZ_CHECK(SameKeys(keys, DecodeInChunks(in, static_cast<uint32_t>(size))));
  std::vector<Key> byte_by_byte;
  KeyDecoder single;
  for (char c : in) single.Feed(&c, 1, &byte_by_byte);
  single.Flush(&byte_by_byte);
  FUZZ_CHECK(SameKeys(keys, byte_by_byte));

  bool plain = true;
  for (unsigned char c : in) plain = plain && c >= 0x20 && c != 0x7F;
  if (plain) {
    std::string typed;
    for (const Key& k : keys) {
      FUZZ_CHECK(k.code == KeyCode::kText);
      typed += k.text;
    }
    FUZZ_CHECK(in.compare(0, typed.size(), typed) == 0);
    FUZZ_CHECK(in.size() - typed.size() <= 3);
  }

  if (in.find(kPasteEnd) == std::string::npos) {
    KeyDecoder d;
    std::vector<Key> pasted;
    const std::string wrapped = std::string(kPasteBegin) + in + kPasteEnd;
    d.Feed(wrapped.data(), wrapped.size(), &pasted);
    d.Flush(&pasted);
    FUZZ_CHECK(pasted.size() == 1 && pasted[0].code == KeyCode::kPaste);
    FUZZ_CHECK(pasted[0].text == in.substr(0, KeyDecoder::kMaxPaste));
  }
  return 0;
}
