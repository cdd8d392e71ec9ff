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
// True if `path` names a folder.
bool IsFolder(const char* path);

// The two kinds of file a program keeps of its own.
enum class AppFileKind { kSettings, kLog, kHistory };

// The folder for the program's own files of `kind`, with a trailing
// separator: beside the executable when that folder is writable (a copied or
// unzipped program), otherwise the user's own folder, created if missing
// (Linux: $XDG_CONFIG_HOME/tarnwick/, default ~/.config/tarnwick/, for
// settings and $XDG_STATE_HOME/tarnwick/, default ~/.local/state/tarnwick/,
// for the log and the download history; Windows: %APPDATA%\tarnwick\ for
// the settings and the log, %LOCALAPPDATA%\tarnwick\ for the history, which
// belongs to this machine and must not roam with the profile). False when neither is
// known or the result does not fit `size`.
bool GetAppFileDir(AppFileKind kind, char* out, size_t size);
// The same choice for an executable in `exeDir` (tests pass a folder of their own).
bool ChooseAppFileDir(const char* exeDir, AppFileKind kind, char* out, size_t size);
// True if the program may keep its files in `dir`: the folder lets this user
// create files, is not marked read-only, and is not where installed programs
// live (/usr, /bin, /sbin on Linux; Program Files on Windows).
bool IsDirWritable(const char* dir);
// The user's own folder for `kind` (see GetAppFileDir), created if missing.
bool GetUserAppDir(AppFileKind kind, char* out, size_t size);
// The user's home folder (Linux) or Documents folder (Windows), with a
// trailing separator. False if it is not known or does not fit `size`.
bool GetUserDocumentsDir(char* out, size_t size);
// Where the file chooser starts when the file box names no folder that
// exists: the executable's folder for a copied program (IsDirWritable), where
// its image files are likely to be; for an installed program the user's
// GetUserDocumentsDir. With a trailing separator; false if neither is known.
bool GetChooserStartDir(char* out, size_t size);
