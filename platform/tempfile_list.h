// The temporary files this process made and has not deleted yet, kept by
// tempfile_posix.cpp and tempfile_win32.cpp for DeleteTempFilesLeft.
#pragma once

void NoteTempFile(const char* path);
void ForgetTempFile(const char* path);
