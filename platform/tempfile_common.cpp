#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "platform/tempfile.h"
#include "platform/tempfile_list.h"

namespace {

std::mutex g_mu;
// At most one image's file at a time in practice; a list keeps it general.
std::vector<std::string> g_files;

}  // namespace

void NoteTempFile(const char* path) {
  std::lock_guard<std::mutex> lock(g_mu);
  g_files.emplace_back(path);
}

void ForgetTempFile(const char* path) {
  std::lock_guard<std::mutex> lock(g_mu);
  auto it = std::find(g_files.begin(), g_files.end(), path);
  if (it != g_files.end()) g_files.erase(it);
}

void DeleteTempFilesLeft() {
  std::vector<std::string> files;
  {
    std::lock_guard<std::mutex> lock(g_mu);
    files.swap(g_files);
  }
  for (const std::string& f : files) DeleteFilePath(f.c_str());
}
