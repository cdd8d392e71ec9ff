// An in-memory FileBackend that can fail one chosen call: every call is
// counted (from 1) and noted by its step, and the call numbered failAt fails,
// as that step fails on a real disk: a failed read, no temporary folder, a
// full disk, a short write, a delete that leaves the file. With keepFailing
// every later call of that step fails too: a full disk stays full.
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
  std::function<void()> onFail;

  void Put(const std::string& path, const std::string& bytes);
  // The calls so far, by step: "size", "read", "tempdir", "create", "write", "delete".
  std::vector<std::string> calls() const;
  // Temporary files created and not deleted.
  std::vector<std::string> tempFiles() const;

  bool Exists(const char* path) override;
  bool Size(const char* path, uint64_t* size) override;
  bool Read(const char* path, void* buf, uint32_t count) override;
  bool TempDir(char* out, size_t size) override;
  bool CreateTemp(const char* dir, const char* prefix, char* out, size_t size) override;
  bool Write(const char* path, const void* buf, uint32_t count) override;
  bool Delete(const char* path) override;

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
