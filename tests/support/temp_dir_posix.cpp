#include <stdlib.h>

#include <filesystem>
#include <system_error>
#include <vector>

#include "support/temp_dir.h"

std::string MakeUniqueTempDir(const char* prefix) {
  std::error_code ec;
  const std::filesystem::path base = std::filesystem::temp_directory_path(ec);  // $TMPDIR or /tmp
  if (ec) return std::string();
  const std::string pattern = (base / (std::string(prefix) + ".XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == nullptr) return std::string();
  return std::string(name.data());
}

void SetTestEnvironment(const char* name, const char* value) { setenv(name, value, 1); }
