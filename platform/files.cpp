#include "platform/files.h"

#include <atomic>
#include <cstring>

#include "platform/file_io.h"
#include "platform/os_error.h"
#include "platform/paths.h"
#include "platform/tempfile.h"

namespace {

thread_local uint32_t t_lastFileError = 0;

// Every step keeps the system's error when it fails, before anything else
// can change it.
bool Kept(bool ok) {
  if (!ok) SetLastFileError(LastOsError());
  return ok;
}

class PlatformFileBackend : public FileBackend {
 public:
  bool Exists(const char* path) override { return Kept(FileExists(path)); }
  bool Size(const char* path, uint64_t* size) override {
    OsFile f;
    return Kept(f.OpenRead(path) && f.Size(size));
  }
  bool Read(const char* path, void* buf, uint32_t count) override {
    OsFile f;
    return Kept(f.OpenRead(path) && f.ReadExact(buf, count));
  }
  bool TempDir(char* out, size_t size) override { return Kept(GetTempDir(out, size)); }
  bool CreateTemp(const char* dir, const char* prefix, char* out, size_t size) override {
    return Kept(CreateTempFileName(dir, prefix, out, size));
  }
  bool Write(const char* path, const void* buf, uint32_t count) override {
    OsFile f;
    return Kept(f.OpenWrite(path) && f.WriteExact(buf, count));
  }
  bool Delete(const char* path) override { return Kept(DeleteFilePath(path)); }
  bool Replace(const char* path, const std::string& text) override {
    return Kept(ReplaceFileText(path, text));
  }
};

PlatformFileBackend g_platformFiles;
std::atomic<FileBackend*> g_files{nullptr};

}  // namespace

FileBackend& PlatformFiles() { return g_platformFiles; }

uint32_t LastFileError() { return t_lastFileError; }

void SetLastFileError(uint32_t code) { t_lastFileError = code; }

std::string LastFileErrorText() {
  return t_lastFileError == 0 ? std::string("unknown error") : OsErrorText(t_lastFileError);
}

void SetFileBackend(FileBackend* backend) { g_files.store(backend); }

FileBackend& Files() {
  FileBackend* files = g_files.load();
  return files ? *files : g_platformFiles;
}

bool FileSnapshot::Take(const char* path) {
  held_ = false;
  bytes_.clear();
  uint64_t size = 0;
  // Files past 4 GiB cannot be held; the checks then refuse them as before.
  if (!next_.Size(path, &size) || size > UINT32_MAX - 1) return false;
  bytes_.resize(static_cast<size_t>(size));
  if (size > 0 && !next_.Read(path, bytes_.data(), static_cast<uint32_t>(size))) {
    bytes_.clear();
    return false;
  }
  path_ = path;
  held_ = true;
  return true;
}

bool FileSnapshot::Size(const char* path, uint64_t* size) {
  if (!held_ || path_ != path) return next_.Size(path, size);
  *size = bytes_.size();
  return true;
}

bool FileSnapshot::Read(const char* path, void* buf, uint32_t count) {
  if (!held_ || path_ != path) return next_.Read(path, buf, count);
  if (count > bytes_.size()) return false;
  if (count > 0) memcpy(buf, bytes_.data(), count);
  return true;
}

ScopedFileBackend::ScopedFileBackend(FileBackend* backend) : before_(g_files.load()) {
  SetFileBackend(backend);
}

ScopedFileBackend::~ScopedFileBackend() { SetFileBackend(before_); }
