#include "app/term/term_args.h"

#include <gtest/gtest.h>

#include <regex>
#include <vector>

namespace {

TEST(TermArgsTest, OnlyNoArgumentsRunTheDialog) {
  struct Case {
    std::vector<const char*> argv;
    TermArgs want;
  } cases[] = {
      {{"tarnwick"}, TermArgs::kRunDialog},
      {{"tarnwick", "--version"}, TermArgs::kVersion},
      {{"tarnwick", "--help"}, TermArgs::kHelp},
      {{"tarnwick", "-h"}, TermArgs::kHelp},
      {{"tarnwick", "/dev/ttyUSB0"}, TermArgs::kBadArgument},
      {{"tarnwick", "--version", "x"}, TermArgs::kBadArgument},
      {{"tarnwick", ""}, TermArgs::kBadArgument},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.want, ParseTermArgs(static_cast<int>(c.argv.size()), c.argv.data()))
        << (c.argv.size() > 1 ? c.argv[1] : "(none)");
  }
  // The caption's spelling first, then the package's, from the same numbers.
  std::cmatch m;
  ASSERT_TRUE(std::regex_match(TermVersionLine(), m,
                               std::regex(R"(tarnwick (\d+)\.(\d{2})\.(\d{4})\.(\d{2}) \((\d+)\.(\d+)\.(\d+)\.(\d+)\))")))
      << TermVersionLine();
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(std::stoi(m[i]), std::stoi(m[i + 4]));
}

}  // namespace
