// Where tarnwick.exe keeps fwdl.ini and fwdl.log: beside the executable when
// it may write there, else under %APPDATA%\tarnwick.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/paths.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

TEST(AppDirTest, BesideTheProgramOnlyWhereItMayWrite) {
  TempDir temp("tarnwick-appdir");
  const fs::path root = temp.path();
  fs::create_directories(root / "copy");
  fs::create_directories(root / "appdata");
  char programFiles[MAX_PATH] = {0};
  ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, programFiles),
            S_OK);
  SetEnvironmentVariableA("APPDATA", (root / "appdata").string().c_str());
  const std::string user = (root / "appdata").string() + "\\tarnwick\\";
  struct Case {
    std::string exeDir;
    std::string expected;
  } cases[] = {
      {(root / "copy").string() + "\\", (root / "copy").string() + "\\"},
      // Installed: even a writable Program Files keeps no settings.
      {std::string(programFiles) + "\\tarnwick\\", user},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.exeDir);
    char out[kMaxPathText];
    ASSERT_TRUE(ChooseAppFileDir(c.exeDir.c_str(), AppFileKind::kSettings, out, sizeof out));
    EXPECT_EQ(std::string(out), c.expected);
  }
  EXPECT_TRUE(fs::is_directory(user));
  SetEnvironmentVariableA("APPDATA", nullptr);
}

}  // namespace
