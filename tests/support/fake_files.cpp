#include "fake_files.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif

void FakeFiles::Put(const std::string& path, const std::string& bytes) {
  std::lock_guard<std::mutex> lock(mu_);
  files_[path] = bytes;
}

std::vector<std::string> FakeFiles::calls() const {
  std::lock_guard<std::mutex> lock(mu_);
  return calls_;
}

std::vector<std::string> FakeFiles::tempFiles() const {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<std::string> left;
  for (const std::string& t : temps_) {
    if (files_.count(t) != 0) left.push_back(t);
  }
  return left;
}

std::string FakeFiles::Get(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = files_.find(path);
  return it == files_.end() ? "" : it->second;
}

uint32_t FakeFiles::ErrorFor(const std::string& step) {
  const bool writes = step == "create" || step == "write" || step == "replace";
  const bool reads = step == "size" || step == "read";
#ifdef _WIN32
  if (writes) return ERROR_DISK_FULL;
  if (reads) return ERROR_READ_FAULT;
  return step == "delete" ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
#else
  if (writes) return ENOSPC;
  if (reads) return EIO;
  return step == "delete" ? EACCES : ENOENT;
#endif
}

bool FakeFiles::Fails(const char* step) {
  bool fails;
  {
    std::lock_guard<std::mutex> lock(mu_);
    calls_.push_back(step);
    fails = static_cast<int>(calls_.size()) == failAt || (keepFailing && failedStep_ == step) ||
            failStep == step;
    if (fails) failedStep_ = step;
  }
  if (fails) SetLastFileError(ErrorFor(step));
  if (fails && onFail) onFail();
  return fails;
}

bool FakeFiles::Exists(const char* path) {
  if (Fails("exists")) return false;
  std::lock_guard<std::mutex> lock(mu_);
  return files_.count(path) != 0;
}

bool FakeFiles::Size(const char* path, uint64_t* size) {
  if (Fails("size")) return false;
  std::lock_guard<std::mutex> lock(mu_);
  auto it = files_.find(path);
  if (it == files_.end()) {
    SetLastFileError(ErrorFor("exists"));
    return false;
  }
  *size = it->second.size();
  return true;
}

bool FakeFiles::Read(const char* path, void* buf, uint32_t count) {
  if (Fails("read")) return false;
  std::lock_guard<std::mutex> lock(mu_);
  auto it = files_.find(path);
  if (it == files_.end() || it->second.size() < count) return false;
  if (count > 0) memcpy(buf, it->second.data(), count);
  return true;
}

bool FakeFiles::TempDir(char* out, size_t size) {
  if (Fails("tempdir")) return false;
  return snprintf(out, size, "mem/") < static_cast<int>(size);
}

bool FakeFiles::CreateTemp(const char* dir, const char* prefix, char* out, size_t size) {
  if (Fails("create")) return false;  // the disk is full
  std::lock_guard<std::mutex> lock(mu_);
  const std::string name =
      std::string(dir) + std::string(prefix).substr(0, 3) + std::to_string(nextTemp_++) + ".tmp";
  if (name.size() >= size) return false;
  snprintf(out, size, "%s", name.c_str());
  files_[name] = "";
  temps_.push_back(name);
  return true;
}

bool FakeFiles::Write(const char* path, const void* buf, uint32_t count) {
  const bool fails = Fails("write");
  std::lock_guard<std::mutex> lock(mu_);
  auto it = files_.find(path);
  if (it == files_.end()) return false;
  // A short write: half of the bytes reach the file.
  const uint32_t n = fails ? count / 2 : count;
  std::string& data = it->second;
  if (data.size() < n) data.resize(n);
  memcpy(&data[0], buf, n);
  return !fails;
}

bool FakeFiles::Delete(const char* path) {
  if (Fails("delete")) return false;  // the file stays
  std::lock_guard<std::mutex> lock(mu_);
  return files_.erase(path) != 0;
}

bool FakeFiles::Replace(const char* path, const std::string& text) {
  if (Fails("replace")) return false;  // the old file stays as it was
  std::lock_guard<std::mutex> lock(mu_);
  files_[path] = text;
  return true;
}
