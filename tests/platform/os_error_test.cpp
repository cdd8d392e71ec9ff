#include "platform/os_error.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Code 2 is "file not found" on both platforms (ENOENT, ERROR_FILE_NOT_FOUND).
// The text stands inside one trace line: no line end, no trailing blank.
TEST(OsErrorTest, TextIsOneLineOfWords) {
  for (uint32_t code : {2u, 5u, 13u}) {
    SCOPED_TRACE(code);
    std::string text = OsErrorText(code);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text, "unknown error");
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
    EXPECT_NE(text.back(), ' ');
  }
}

}  // namespace
