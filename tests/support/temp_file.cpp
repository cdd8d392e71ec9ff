#include "support/temp_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "platform/tempfile.h"

TempFile::TempFile() {
  char dir[260];
  char name[260];
  if (GetTempDir(dir, sizeof dir) && CreateTempFileName(dir, "twt", name, sizeof name)) {
    path_ = name;
  } else {
    ADD_FAILURE() << "cannot create a temporary file";
  }
}

TempFile::TempFile(const std::vector<uint8_t>& bytes) : TempFile() { Write(bytes); }

TempFile::~TempFile() {
  if (!path_.empty()) DeleteFilePath(path_.c_str());
}

void TempFile::Write(const std::vector<uint8_t>& bytes) {
  std::ofstream out(path_, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path_;
}

std::vector<uint8_t> TempFile::Read() const {
  std::ifstream in(path_, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
