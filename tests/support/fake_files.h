// An in-memory FileBackend that can fail one chosen call: every call is
// counted (from 1) and noted by its step, and the call numbered failAt fails,
// as that step fails on a real disk: a failed read, no temporary folder, a
// full disk, a short write, a delete that leaves the file, a settings file
// that cannot be replaced. With keepFailing every later call of that step
// fails too: a full disk stays full. A failed call leaves the system's error
// a real disk would give in LastFileError (ErrorFor).
// Installs itself for its lifetime.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/files.h"

class FakeFiles : public FileBackend {
 public:
  FakeFiles() { SetFileBackend(this); }
  ~FakeFiles() override { SetFileBackend(nullptr); }
  FakeFiles(const FakeFiles&) = delete;
  FakeFiles& operator=(const FakeFiles&) = delete;

  // The call to fail (0: none), and what to do the moment it fails.
  int failAt = 0;
  bool keepFailing = false;
  // Every call of this step fails ("" none): a disk that is full from the start.
  std::string failStep;
  std::function<void()> onFail;

  void Put(const std::string& path, const std::string& bytes);
  // The calls so far, by step: "exists", "size", "read", "tempdir", "create",
  // "write", "delete", "replace".
  std::vector<std::string> calls() const;
  // Temporary files created and not deleted.
  std::vector<std::string> tempFiles() const;
  // The bytes held at `path`; "" if none.
  std::string Get(const std::string& path) const;
  // The system's error a failure of `step` leaves: a full disk for the steps
  // that write, an input/output error for the reads, access denied for a
  // delete, no such file for the rest.
  static uint32_t ErrorFor(const std::string& step);

  bool Exists(const char* path) override;
  bool Size(const char* path, uint64_t* size) override;
  bool Read(const char* path, void* buf, uint32_t count) override;
  bool TempDir(char* out, size_t size) override;
  bool CreateTemp(const char* dir, const char* prefix, char* out, size_t size) override;
  bool Write(const char* path, const void* buf, uint32_t count) override;
  bool Delete(const char* path) override;
  bool Replace(const char* path, const std::string& text) override;

 private:
  // Notes the call; true if it is the one to fail.
  bool Fails(const char* step);

  mutable std::mutex mu_;
  std::map<std::string, std::string> files_;
  std::vector<std::string> calls_;
  std::vector<std::string> temps_;
  std::string failedStep_;
  int nextTemp_ = 1;
};
