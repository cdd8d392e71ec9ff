// Text measuring and wrapping for the terminal dialog. Texts are measured as
// UTF-8 by the columns a terminal gives them: two for a wide East Asian
// character, none for a combining one, one for anything shown as '?' (a
// control character, a byte that begins no character). DisplayText makes a
// text whose drawing takes exactly the columns measured here, so a frame
// drawn around it stays closed in a UTF-8 terminal and in any other.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

// True for the bytes that continue a UTF-8 character.
inline bool IsUtf8Continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// One character of a text: its length in bytes, the columns it takes, and
// whether it is drawn as it is (false: drawn as one '?').
struct TextChar {
  size_t bytes;
  int columns;
  bool printable;
};
// The character that begins at byte `i` (< text.size()) of `text`.
TextChar CharAt(const std::string& text, size_t i);

// Columns `text` takes on the screen.
int TextColumns(const std::string& text);

// `text` cut or filled with blanks to exactly `columns` columns: a wide
// character that would straddle the edge is left out and its column blank.
std::string PadColumns(const std::string& text, int columns);

// The first `columns` columns of `text`, never splitting a character.
std::string ClipColumns(const std::string& text, int columns);

// The last `columns` columns of `text`, marked with "..." when cut: for paths,
// whose end says more than their start.
std::string ClipColumnsLeft(const std::string& text, int columns);

// A text made safe to draw: control characters and bytes that begin no
// UTF-8 character become '?', and when the terminal is not UTF-8 each
// non-ASCII character becomes as many '?' as it takes columns.
std::string DisplayText(const std::string& text, bool utf8);

// Breaks `text` into lines of at most `width` columns: at each "\n", and
// otherwise at the last blank that fits (a word longer than the width is
// split). At most `maxLines` lines; an empty text gives no line.
std::vector<std::string> WrapText(const std::string& text, int width, int maxLines);

// WrapText for a status text: when its lines do not fit in `maxLines`, its
// line breaks become blanks, so that the text flows into the lines there are
// before anything is cut.
std::vector<std::string> WrapToFit(const std::string& text, int width, int maxLines);
// The lines of a message box's text in `maxLines`: as WrapToFit, and when
// even that does not fit, the last lines, so the question a box asks (its
// last sentence, which its buttons answer) is never the part cut off.
std::vector<std::string> FitBoxText(const std::string& text, int width, int maxLines);
