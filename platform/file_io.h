// One open file for the whole-file operations of the image module. The
// platform files keep this contract with the operating system's own calls;
// everything above it is portable.
#pragma once
#include <cstdint>
#include <string>

class OsFile {
 public:
  OsFile() = default;
  ~OsFile() { Close(); }
  OsFile(const OsFile&) = delete;
  OsFile& operator=(const OsFile&) = delete;

  // Opens an existing file for reading; others may read it at the same time.
  bool OpenRead(const char* path);
  // Opens for writing, creating the file if it does not exist. An existing file
  // is written from its start and not shortened. Nobody else may open it meanwhile.
  bool OpenWrite(const char* path);
  // The file's size in bytes (all 64 bits).
  bool Size(uint64_t* size);
  // True only if exactly `count` bytes were read from the current position.
  bool ReadExact(void* buf, uint32_t count);
  // True only if exactly `count` bytes were written at the current position.
  bool WriteExact(const void* buf, uint32_t count);
  // Opens for appending, creating the file (readable by this user only) if
  // it does not exist: every write goes to the end as one step, so lines
  // appended by several processes at once never interleave.
  bool OpenAppend(const char* path);
  // Closes the file if open; safe to call twice.
  void Close();
  bool IsOpen() const { return handle_ != kInvalid; }

 private:
  static constexpr intptr_t kInvalid = -1;  // INVALID_HANDLE_VALUE and an invalid fd alike
  intptr_t handle_ = kInvalid;
  bool append_ = false;  // opened by OpenAppend
};

// FileBackend::Replace on the platform's own calls; a file replaced keeps its
// permissions.
bool ReplaceFileText(const char* path, const std::string& text);
// Renames `from` to `to`, replacing `to` if it exists. False if `from` stays.
bool RenameReplacing(const char* from, const char* to);
