// A file in the temporary folder that lives as long as the object. Its
// contents are written with the standard library, independently of the code
// under test.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class TempFile {
 public:
  // Creates a new empty file.
  TempFile();
  explicit TempFile(const std::vector<uint8_t>& bytes);
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const char* path() const { return path_.c_str(); }
  // Replaces the contents.
  void Write(const std::vector<uint8_t>& bytes);
  // The whole contents.
  std::vector<uint8_t> Read() const;

 private:
  std::string path_;
};
