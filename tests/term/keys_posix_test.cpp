#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/term/dialog_state.h"
#include "app/term/keys.h"

namespace {

std::vector<Key> Decode(const std::string& bytes) {
  KeyDecoder d;
  std::vector<Key> out;
  d.Feed(bytes.data(), bytes.size(), &out);
  d.Flush(&out);
  return out;
}

struct SequenceCase {
  const char* bytes;
  KeyCode code;
};

TEST(KeyDecoderTest, SequencesOfCommonTerminals) {
  const SequenceCase cases[] = {
      {"\t", KeyCode::kTab},          {"\x1b[Z", KeyCode::kBackTab},
      {"\r", KeyCode::kEnter},        {"\x1bOM", KeyCode::kEnter},
      {"\x7f", KeyCode::kBackspace},  {"\x08", KeyCode::kBackspace},
      {"\x1b[3~", KeyCode::kDelete},  {"\x1b[A", KeyCode::kUp},
      {"\x1bOB", KeyCode::kDown},     {"\x1b[1;5C", KeyCode::kRight},
      {"\x1bOD", KeyCode::kLeft},     {"\x1b[H", KeyCode::kHome},
      {"\x1bOH", KeyCode::kHome},     {"\x1b[1~", KeyCode::kHome},
      {"\x1b[7~", KeyCode::kHome},    {"\x1b[F", KeyCode::kEnd},
      {"\x1b[4~", KeyCode::kEnd},     {"\x1b[8~", KeyCode::kEnd},
      {"\x1b[5~", KeyCode::kPageUp},  {"\x1b[6~", KeyCode::kPageDown},
      {"\x1b", KeyCode::kEscape},
  };
  for (const SequenceCase& c : cases) {
    std::vector<Key> keys = Decode(c.bytes);
    ASSERT_EQ(keys.size(), 1u) << "bytes " << testing::PrintToString(std::string(c.bytes));
    EXPECT_EQ(keys[0].code, c.code) << testing::PrintToString(std::string(c.bytes));
  }
}

TEST(KeyDecoderTest, AltLetterControlKeysAndText) {
  std::vector<Key> keys = Decode("\x1b" "B\x03" "a\xc3\xa9");
  ASSERT_EQ(keys.size(), 4u);
  EXPECT_EQ(keys[0].code, KeyCode::kAlt);
  EXPECT_EQ(keys[0].ch, 'b');
  EXPECT_TRUE(keys[1].IsCtrl('c'));
  EXPECT_EQ(keys[2].text, "a");
  EXPECT_EQ(keys[3].text, "\xc3\xa9");
}

TEST(KeyDecoderTest, UnknownSequencesAreSwallowedWhole) {
  std::vector<Key> keys = Decode("\x1b[15~\x1b[?1;2cx\x1bOPy");
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].text, "x");
  EXPECT_EQ(keys[1].text, "y");
}

TEST(KeyDecoderTest, SequenceSplitAcrossReadsWaitsForItsRest) {
  KeyDecoder d;
  std::vector<Key> out;
  d.Feed("\x1b", 1, &out);
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(d.Pending());
  d.Feed("[", 1, &out);
  d.Feed("C\xe2\x82", 3, &out);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].code, KeyCode::kRight);
  d.Feed("\xac", 1, &out);  // the rest of the euro sign
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1].text, "\xe2\x82\xac");
  EXPECT_FALSE(d.Pending());
}

TEST(KeyDecoderTest, DoubleEscapeIsEscapeThenWhatFollows) {
  std::vector<Key> keys = Decode("\x1b\x1bq");
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].code, KeyCode::kEscape);
  EXPECT_EQ(keys[1].code, KeyCode::kAlt);
  EXPECT_EQ(keys[1].ch, 'q');
}

TEST(KeyDecoderTest, BracketedPasteArrivesAsOnePieceEvenInChunks) {
  KeyDecoder d;
  std::vector<Key> out;
  const std::string bytes = "\x1b[200~/tmp/a\tb\x1b[A.bin\x1b[201~x";
  for (char c : bytes) d.Feed(&c, 1, &out);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].code, KeyCode::kPaste);
  EXPECT_EQ(out[0].text, "/tmp/a\tb\x1b[A.bin");
  EXPECT_EQ(out[1].text, "x");
}

TEST(KeyDecoderTest, OverlongPasteIsCutButStillEnds) {
  std::string bytes = "\x1b[200~" + std::string(KeyDecoder::kMaxPaste + 100, 'p') + "\x1b[201~";
  std::vector<Key> keys = Decode(bytes);
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_EQ(keys[0].text.size(), KeyDecoder::kMaxPaste);
}

// Pastes that end just short of the limit: the end marker straddles it and
// none of its bytes may stay in the text.
TEST(KeyDecoderTest, PasteNearTheLimitKeepsNoPartOfTheEndMarker) {
  for (size_t len = KeyDecoder::kMaxPaste - 7; len <= KeyDecoder::kMaxPaste + 1; ++len) {
    SCOPED_TRACE(len);
    const std::string text(len, 'p');
    std::vector<Key> keys = Decode("\x1b[200~" + text + "\x1b[201~");
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].text.size(), std::min(len, KeyDecoder::kMaxPaste));
    EXPECT_EQ(keys[0].text.find('\x1b'), std::string::npos);
  }
}

// Dialog keys: focus, mnemonics and the commands they give.
class DialogKeyTest : public ::testing::Test {
 protected:
  DialogAction Press(const Key& k) { return HandleDialogKey(&s_, k); }
  void Disable(int id) { s_.disabled[id] = true; }
  DialogState s_;
};

TEST_F(DialogKeyTest, TabOrderSkipsDisabledControlsAndWraps) {
  Disable(IDC_STOP_DL);
  const int forward[] = {IDC_BROWSE, IDC_START, ID_QUIT, IDC_FILENAME};
  for (int id : forward) {
    Press(Key::Of(KeyCode::kTab));
    EXPECT_EQ(s_.focus, id);
  }
  Press(Key::Of(KeyCode::kBackTab));
  EXPECT_EQ(s_.focus, ID_QUIT);
  // During a download only Stop and Quit take the focus.
  s_.disabled.clear();
  Disable(IDC_FILENAME);
  Disable(IDC_BROWSE);
  Disable(IDC_START);
  Press(Key::Of(KeyCode::kTab));
  EXPECT_EQ(s_.focus, IDC_STOP_DL);
  Press(Key::Of(KeyCode::kTab));
  EXPECT_EQ(s_.focus, ID_QUIT);
}

TEST_F(DialogKeyTest, AltMnemonicsPressButtonsFromAnywhere) {
  struct {
    char letter;
    int id;
  } const cases[] = {{'b', IDC_BROWSE}, {'s', IDC_START}, {'t', IDC_STOP_DL}, {'q', ID_QUIT}};
  for (const auto& c : cases) {
    s_.focus = IDC_FILENAME;
    DialogAction a = Press(Key::Alt(c.letter));
    EXPECT_EQ(a.kind, DialogAction::kCommand) << c.letter;
    EXPECT_EQ(a.id, c.id);
    EXPECT_EQ(s_.focus, c.id);
  }
  EXPECT_EQ(s_.file.text(), "");
  DialogAction a = Press(Key::Alt('f'));
  EXPECT_EQ(a.kind, DialogAction::kRedraw);
  EXPECT_EQ(s_.focus, IDC_FILENAME);
}

TEST_F(DialogKeyTest, PlainLettersTypeInTheFileBoxAndPressElsewhere) {
  DialogAction a = Press(Key::Text("s"));
  EXPECT_EQ(a.kind, DialogAction::kRedraw);
  EXPECT_EQ(s_.file.text(), "s");
  s_.focus = IDC_BROWSE;
  a = Press(Key::Text("Q"));
  EXPECT_EQ(a.kind, DialogAction::kCommand);
  EXPECT_EQ(a.id, ID_QUIT);
  a = Press(Key::Text("x"));
  EXPECT_EQ(a.kind, DialogAction::kNone);
}

TEST_F(DialogKeyTest, DisabledButtonsIgnoreTheirMnemonics) {
  Disable(IDC_START);
  Disable(IDC_STOP_DL);
  EXPECT_EQ(Press(Key::Alt('s')).kind, DialogAction::kNone);
  EXPECT_EQ(Press(Key::Alt('t')).kind, DialogAction::kNone);
  EXPECT_EQ(s_.focus, IDC_FILENAME);
}

TEST_F(DialogKeyTest, EnterAndSpacePressOnlyTheFocusedButton) {
  EXPECT_EQ(Press(Key::Of(KeyCode::kEnter)).kind, DialogAction::kNone);
  s_.focus = IDC_START;
  DialogAction a = Press(Key::Of(KeyCode::kEnter));
  EXPECT_EQ(a.kind, DialogAction::kCommand);
  EXPECT_EQ(a.id, IDC_START);
  a = Press(Key::Text(" "));
  EXPECT_EQ(a.kind, DialogAction::kCommand);
  EXPECT_EQ(a.id, IDC_START);
}

TEST_F(DialogKeyTest, EscapeDoesNothingAndCtrlCIsTheCloseBox) {
  for (int focus : kTabOrder) {
    s_.focus = focus;
    EXPECT_EQ(Press(Key::Of(KeyCode::kEscape)).kind, DialogAction::kNone);
    EXPECT_EQ(Press(Key::Ctrl('c')).kind, DialogAction::kClose);
  }
}

TEST_F(DialogKeyTest, FileBoxEditsAndPastes) {
  Press(Key{KeyCode::kPaste, "/tmp/fw.bin\n", 0});
  EXPECT_EQ(s_.file.text(), "/tmp/fw.bin");
  Press(Key::Of(KeyCode::kHome));
  Press(Key::Of(KeyCode::kDelete));
  Press(Key::Ctrl('e'));
  Press(Key::Of(KeyCode::kBackspace));
  EXPECT_EQ(s_.file.text(), "tmp/fw.bi");
  Press(Key::Ctrl('u'));
  EXPECT_EQ(s_.file.text(), "");
  // A path too long for a download stays whole, for Start to refuse: cut to
  // 259 characters it could name another image file.
  const std::string tooLong = "/srv/" + std::string(258, 'f') + ".bin";
  Press(Key{KeyCode::kPaste, tooLong, 0});
  EXPECT_EQ(s_.file.text(), tooLong);
}

// A download starts with Start pressed: the focus rests where no stray
// Enter or Space stops the download, and Tab still reaches Stop and Quit.
TEST_F(DialogKeyTest, FocusRestsOffAControlThatGotDisabled) {
  s_.focus = IDC_START;
  for (int id : {IDC_FILENAME, IDC_BROWSE, IDC_START}) Disable(id);
  FixFocus(&s_);
  EXPECT_EQ(s_.focus, kRestFocus);
  for (const Key& k : {Key::Of(KeyCode::kEnter), Key::Text(" "), Key::Of(KeyCode::kEnter)}) {
    EXPECT_EQ(Press(k).kind, DialogAction::kNone);
    EXPECT_EQ(s_.focus, kRestFocus);
  }
  Press(Key::Of(KeyCode::kTab));
  EXPECT_EQ(s_.focus, IDC_STOP_DL);
  // Stop pressed and disabled: the focus rests again.
  Disable(IDC_STOP_DL);
  FixFocus(&s_);
  EXPECT_EQ(s_.focus, kRestFocus);
  Press(Key::Of(KeyCode::kBackTab));
  EXPECT_EQ(s_.focus, ID_QUIT);
}

}  // namespace
