// The file steps of the programs behind one small interface: the image file
// found (the check before a download) and read whole (its size, then its
// bytes), the temporary image file created, written and closed, and deleted,
// a settings file replaced, and the history and tarnwick-cli's settings file
// read. The platform's files serve them unless another backend is installed
// (tests install an in-memory one). A step that fails leaves the system's
// error for it in LastFileError.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class FileBackend {
 public:
  virtual ~FileBackend() = default;
  // True if the file system reports attributes for `path` (FileExists).
  virtual bool Exists(const char* path) = 0;
  // The size of an existing file, opened for reading; false if it cannot be
  // opened or sized.
  virtual bool Size(const char* path, uint64_t* size) = 0;
  // Exactly `count` bytes from the start of an existing file.
  virtual bool Read(const char* path, void* buf, uint32_t count) = 0;
  // The temporary folder with a trailing separator (GetTempDir).
  virtual bool TempDir(char* out, size_t size) = 0;
  // A new, empty file with a unique name in `dir` (CreateTempFileName).
  virtual bool CreateTemp(const char* dir, const char* prefix, char* out, size_t size) = 0;
  // Opens `path` for writing, writes exactly `count` bytes from its start
  // and closes it; false if any of that failed (the file may then be short).
  virtual bool Write(const char* path, const void* buf, uint32_t count) = 0;
  // Deletes the file; false if it is still there.
  virtual bool Delete(const char* path) = 0;
  // Puts `text` in place of the file at `path` (made if missing; a symbolic
  // link is followed) through a new file beside it and a rename: a failure
  // or a crash leaves the old file whole, never half of one.
  virtual bool Replace(const char* path, const std::string& text) = 0;
};

// The system's error number (errno, or a GetLastError() value) of the last
// file step that failed on this thread; 0 if none has.
uint32_t LastFileError();
void SetLastFileError(uint32_t code);
// Its words: "No space left on device"; "unknown error" for 0.
std::string LastFileErrorText();

// The platform's files (OsFile and the temporary-file functions).
FileBackend& PlatformFiles();
// Installs a backend (not owned, must outlive its use); nullptr restores the
// platform's. Not while a download runs.
void SetFileBackend(FileBackend* backend);
// The backend in use; never null.
FileBackend& Files();

// One file read once and served from memory while installed: the checks
// before a download and the download itself then see the same bytes, however
// the file changes meanwhile. Every other path, and every other step, goes to
// the backend that was in use when the snapshot was made.
class FileSnapshot : public FileBackend {
 public:
  FileSnapshot() : next_(Files()) {}
  // Reads `path` whole; false (nothing held) if it cannot be read.
  bool Take(const char* path);
  bool Exists(const char* path) override { return (held_ && path_ == path) || next_.Exists(path); }
  bool Size(const char* path, uint64_t* size) override;
  bool Read(const char* path, void* buf, uint32_t count) override;
  bool TempDir(char* out, size_t size) override { return next_.TempDir(out, size); }
  bool CreateTemp(const char* dir, const char* prefix, char* out, size_t size) override {
    return next_.CreateTemp(dir, prefix, out, size);
  }
  bool Write(const char* path, const void* buf, uint32_t count) override {
    return next_.Write(path, buf, count);
  }
  bool Delete(const char* path) override { return next_.Delete(path); }
  bool Replace(const char* path, const std::string& text) override {
    return next_.Replace(path, text);
  }

 private:
  FileBackend& next_;
  bool held_ = false;
  std::string path_;
  std::vector<uint8_t> bytes_;
};

// Installs a backend for as long as it lives, then puts back the one before.
class ScopedFileBackend {
 public:
  explicit ScopedFileBackend(FileBackend* backend);
  ~ScopedFileBackend();
  ScopedFileBackend(const ScopedFileBackend&) = delete;
  ScopedFileBackend& operator=(const ScopedFileBackend&) = delete;

 private:
  FileBackend* before_;
};
