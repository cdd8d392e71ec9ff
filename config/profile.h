// Key reads and writes on an INI-style profile file: "[section]" lines, then
// "key=value" lines. Section and key names compare without regard to ASCII
// case; the first section of a name and the first key of a name in it count.
// Values are read with the blanks around them removed, and without one pair
// of enclosing single or double quotation marks.
#pragma once
#include <cstddef>
#include <cstdint>

// Copies the value of `key` in `section` into `out` (at most size - 1
// characters, always terminated when size > 0), or `def` when the file, the
// section or the key is missing. A key present with an empty value gives "".
// Returns the number of characters copied.
uint32_t ProfileGetString(const char* path, const char* section, const char* key,
                          const char* def, char* out, size_t size);

// The integer at the start of the value, as a 32-bit pattern (a leading '-'
// gives the two's complement; digits beyond 32 bits wrap). 0 if the value
// does not begin with a number; `def` if the key is missing or its value is
// empty.
uint32_t ProfileGetInt(const char* path, const char* section, const char* key, int32_t def);

// Sets `key` in `section` to `value`, creating the file, the section or the
// key when missing and keeping every other line. A section, key or value that
// holds a line break is refused, since it would add lines of its own. True if
// the file now holds the value.
bool ProfileWriteString(const char* path, const char* section, const char* key,
                        const char* value);
