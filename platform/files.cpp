#include "platform/files.h"

#include <atomic>

#include "platform/file_io.h"
#include "platform/tempfile.h"

namespace {

class PlatformFileBackend : public FileBackend {
 public:
  bool Size(const char* path, uint64_t* size) override {
    OsFile f;
    return f.OpenRead(path) && f.Size(size);
  }
  bool Read(const char* path, void* buf, uint32_t count) override {
    OsFile f;
    return f.OpenRead(path) && f.ReadExact(buf, count);
  }
  bool TempDir(char* out, size_t size) override { return GetTempDir(out, size); }
  bool CreateTemp(const char* dir, const char* prefix, char* out, size_t size) override {
    return CreateTempFileName(dir, prefix, out, size);
  }
  bool Write(const char* path, const void* buf, uint32_t count) override {
    OsFile f;
    return f.OpenWrite(path) && f.WriteExact(buf, count);
  }
  bool Delete(const char* path) override { return DeleteFilePath(path); }
};

PlatformFileBackend g_platformFiles;
std::atomic<FileBackend*> g_files{nullptr};

}  // namespace

FileBackend& PlatformFiles() { return g_platformFiles; }

void SetFileBackend(FileBackend* backend) { g_files.store(backend); }

FileBackend& Files() {
  FileBackend* files = g_files.load();
  return files ? *files : g_platformFiles;
}
