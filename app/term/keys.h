// Keyboard input of the terminal dialog: the bytes a terminal sends, decoded
// into keys. Handles the escape sequences of xterm, screen/tmux and vt100
// (CSI and SS3 forms), Alt+letter sent as ESC and the letter, bracketed
// paste, and UTF-8 text.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

enum class KeyCode {
  kText,       // `text`: one typed character (UTF-8 bytes)
  kPaste,      // `text`: a bracketed paste, as sent
  kAlt,        // `ch`: ESC followed by a printable character, lower-cased
  kCtrl,       // `ch`: Ctrl with a letter 'a'..'z' (not Tab, Enter, Backspace)
  kTab,
  kBackTab,    // Shift+Tab
  kEnter,
  kBackspace,
  kDelete,
  kLeft,
  kRight,
  kUp,
  kDown,
  kHome,
  kEnd,
  kPageUp,
  kPageDown,
  kEscape,
};

struct Key {
  KeyCode code;
  std::string text;
  char ch = 0;

  static Key Of(KeyCode code) { return Key{code, std::string(), 0}; }
  static Key Text(const std::string& t) { return Key{KeyCode::kText, t, 0}; }
  static Key Alt(char c) { return Key{KeyCode::kAlt, std::string(), c}; }
  static Key Ctrl(char c) { return Key{KeyCode::kCtrl, std::string(), c}; }
  bool Is(KeyCode c) const { return code == c; }
  bool IsCtrl(char c) const { return code == KeyCode::kCtrl && ch == c; }
};

class KeyDecoder {
 public:
  // The longest paste kept; the rest of a longer one is dropped.
  static constexpr size_t kMaxPaste = 4096;

  // Decodes `n` bytes; complete keys are appended to `out`. Bytes of an
  // unfinished sequence are kept for the next call.
  void Feed(const char* data, size_t n, std::vector<Key>* out);
  // True while the bytes so far may still begin a longer sequence (a lone
  // ESC above all): the caller waits a little for more input, then Flushes.
  bool Pending() const { return !pending_.empty(); }
  // The input went quiet: a lone ESC is the Escape key, any other unfinished
  // sequence is dropped. A paste in progress stays open.
  void Flush(std::vector<Key>* out);

 private:
  // Decodes the front of pending_; false when it needs more bytes.
  bool DecodeOne(std::vector<Key>* out);
  size_t DecodeEscape(std::vector<Key>* out);
  void FeedPaste(char c, std::vector<Key>* out);

  std::string pending_;
  bool inPaste_ = false;
  std::string paste_;
  size_t pasteSeen_ = 0;   // bytes of the paste so far, end marker included
  std::string pasteTail_;  // last bytes seen in a paste, to find its end
};
