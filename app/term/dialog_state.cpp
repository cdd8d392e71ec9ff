#include "app/term/dialog_state.h"

#include <iterator>

namespace {

constexpr int kTabCount = static_cast<int>(std::size(kTabOrder));

int TabIndex(int id) {
  for (int i = 0; i < kTabCount; ++i)
    if (kTabOrder[i] == id) return i;
  return -1;
}

// The next enabled control after the focused one in direction `step`
// (+1 or -1), wrapping around; the focus itself if no other is enabled.
int NextFocus(const DialogState& s, int step) {
  int at = TabIndex(s.focus);
  if (at < 0) at = step > 0 ? kTabCount - 1 : 0;
  for (int n = 1; n <= kTabCount; ++n) {
    int id = kTabOrder[((at + step * n) % kTabCount + kTabCount) % kTabCount];
    if (s.IsEnabled(id)) return id;
  }
  return s.focus;
}

DialogAction Press(DialogState* s, int id) {
  if (!s->IsEnabled(id)) return DialogAction{};
  s->focus = id;
  if (id == IDC_FILENAME) return DialogAction{DialogAction::kRedraw, 0};
  return DialogAction{DialogAction::kCommand, id};
}

DialogAction Redraw() { return DialogAction{DialogAction::kRedraw, 0}; }

// Editing keys of the file box; kNone if the key is not one of them.
DialogAction EditFile(DialogState* s, const Key& key) {
  LineEditor& e = s->file;
  switch (key.code) {
    case KeyCode::kText:
    case KeyCode::kPaste: e.Insert(key.text); return Redraw();
    case KeyCode::kBackspace: e.Backspace(); return Redraw();
    case KeyCode::kDelete: e.Delete(); return Redraw();
    case KeyCode::kLeft: e.Left(); return Redraw();
    case KeyCode::kRight: e.Right(); return Redraw();
    case KeyCode::kHome: e.Home(); return Redraw();
    case KeyCode::kEnd: e.End(); return Redraw();
    case KeyCode::kCtrl:
      switch (key.ch) {
        case 'a': e.Home(); return Redraw();
        case 'e': e.End(); return Redraw();
        case 'u': e.DeleteToStart(); return Redraw();
        case 'k': e.DeleteToEnd(); return Redraw();
        default: return DialogAction{};
      }
    default: return DialogAction{};
  }
}

// The letter of a plain typed key, lower-cased; 0 for anything else.
char PlainLetter(const Key& key) {
  if (key.code != KeyCode::kText || key.text.size() != 1) return 0;
  char c = key.text[0];
  if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return c;
}

}  // namespace

bool DialogState::IsEnabled(int id) const {
  auto it = disabled.find(id);
  return it == disabled.end() || !it->second;
}

std::string DialogState::Text(int id) const {
  auto it = texts.find(id);
  return it == texts.end() ? std::string() : it->second;
}

int MnemonicTarget(char letter) {
  switch (letter) {
    case 'f': return IDC_FILENAME;
    case 'b': return IDC_BROWSE;
    case 's': return IDC_START;
    case 't': return IDC_STOP_DL;
    case 'q': return ID_QUIT;
    default: return 0;
  }
}

void FixFocus(DialogState* s) {
  if (!s->IsEnabled(s->focus)) s->focus = kRestFocus;
}

DialogAction HandleDialogKey(DialogState* s, const Key& key) {
  FixFocus(s);
  const bool inFile = s->focus == IDC_FILENAME && s->IsEnabled(IDC_FILENAME);
  if (key.IsCtrl('c')) return DialogAction{DialogAction::kClose, 0};
  if (key.IsCtrl('l')) return Redraw();
  switch (key.code) {
    case KeyCode::kTab: s->focus = NextFocus(*s, +1); return Redraw();
    case KeyCode::kBackTab: s->focus = NextFocus(*s, -1); return Redraw();
    case KeyCode::kEscape: return DialogAction{};
    case KeyCode::kAlt: {
      int id = MnemonicTarget(key.ch);
      return id ? Press(s, id) : DialogAction{};
    }
    default: break;
  }
  if (inFile) return EditFile(s, key);

  // The focus is on a button, or resting on the progress bar.
  bool enabled = s->IsEnabled(s->focus) && s->focus != kRestFocus;
  switch (key.code) {
    case KeyCode::kEnter:
      return enabled ? DialogAction{DialogAction::kCommand, s->focus} : DialogAction{};
    case KeyCode::kLeft:
    case KeyCode::kUp: s->focus = NextFocus(*s, -1); return Redraw();
    case KeyCode::kRight:
    case KeyCode::kDown: s->focus = NextFocus(*s, +1); return Redraw();
    default: break;
  }
  if (key.code == KeyCode::kText && key.text == " ")
    return enabled ? DialogAction{DialogAction::kCommand, s->focus} : DialogAction{};
  if (char letter = PlainLetter(key)) {
    int id = MnemonicTarget(letter);
    if (id) return Press(s, id);
  }
  return DialogAction{};
}
