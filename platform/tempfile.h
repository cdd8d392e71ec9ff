// Temporary image files: the user's temporary folder and unique names.
#pragma once
#include <cstddef>

// The user's temporary folder with a trailing separator (Windows: GetTempPathA;
// Linux: $TMPDIR or /tmp). False if it cannot be found or does not fit.
bool GetTempDir(char* out, size_t size);
// Creates a new, empty file with a unique name in `dir` whose name begins with
// the first three characters of `prefix` ("fwd...tmp"), exclusively; its path
// goes to `out`. False if none could be created.
bool CreateTempFileName(const char* dir, const char* prefix, char* out, size_t size);
// Deletes the file; false if it could not be deleted.
bool DeleteFilePath(const char* path);
// Deletes every file CreateTempFileName made that DeleteFilePath has not
// deleted yet: for a process about to be ended from outside. Any thread.
void DeleteTempFilesLeft();
