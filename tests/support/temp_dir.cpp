#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <system_error>

TempDir::TempDir(const char* prefix) : path_(MakeUniqueTempDir(prefix)) {
  if (path_.empty()) ADD_FAILURE() << "cannot make a temporary folder";
}

TempDir::~TempDir() {
  if (path_.empty() || keep_) return;
  std::error_code ec;
  std::filesystem::remove_all(std::filesystem::path(path_), ec);
}

std::string TempDir::operator/(const std::string& name) const { return path_ + "/" + name; }
