// Paths the program needs from the operating system. All paths are 8-bit
// strings of at most 259 characters plus the NUL.
#pragma once
#include <cstddef>

constexpr size_t kMaxPathText = 260;

// The folder of the running executable with a trailing separator, cut to fit
// `size` bytes. False if the executable's path cannot be found.
bool GetExeDir(char* out, size_t size);

// The platform's path separator ('\\' on Windows, '/' elsewhere).
char PathSeparator();

// The part of `path` after its last separator ('/' or '\\'); `path` itself if none.
const char* PathFileNamePart(const char* path);

// True if the file system reports attributes for `path`: a file or a
// directory (the caller tells them apart by reading it).
bool FileExists(const char* path);
