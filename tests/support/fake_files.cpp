#include "fake_files.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

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

bool FakeFiles::Fails(const char* step) {
  bool fails;
  {
    std::lock_guard<std::mutex> lock(mu_);
    calls_.push_back(step);
    fails = static_cast<int>(calls_.size()) == failAt || (keepFailing && failedStep_ == step);
    if (fails) failedStep_ = step;
  }
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
  if (it == files_.end()) return false;
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
