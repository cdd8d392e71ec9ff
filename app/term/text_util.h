// Text measuring and wrapping for the terminal dialog. Texts are UTF-8 when
// the terminal's locale is, else plain bytes; every character takes one
// column (the dialog's own texts are ASCII, paths rarely hold wide characters).
#pragma once
#include <cstddef>
#include <string>
#include <vector>

// True for the bytes that continue a UTF-8 character.
inline bool IsUtf8Continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Columns `text` takes on the screen.
int TextColumns(const std::string& text);

// The first `columns` columns of `text`, never splitting a character.
std::string ClipColumns(const std::string& text, int columns);

// The last `columns` columns of `text`, marked with "..." when cut: for paths,
// whose end says more than their start.
std::string ClipColumnsLeft(const std::string& text, int columns);

// A text made safe to draw: control characters become '?', and so does each
// non-ASCII character when the terminal is not UTF-8.
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
