// A fresh folder of the test's own in the user's temporary folder, made with
// a name nobody else can hold (mkdtemp; on Windows a folder creation that
// fails on an existing name), and removed with all it holds when the object
// goes. Tests run in parallel processes: no test builds a folder name itself.
#pragma once
#include <string>

class TempDir {
 public:
  // Makes the folder; `prefix` begins its name, for a look at what was left.
  // A folder that cannot be made is a test failure and leaves path() empty.
  explicit TempDir(const char* prefix = "tarnwick-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder, without a trailing separator.
  const std::string& path() const { return path_; }
  // `name` inside the folder.
  std::string operator/(const std::string& name) const;
  // Leaves the folder in place when the object goes (to look at it later).
  void Keep() { keep_ = true; }

 private:
  std::string path_;
  bool keep_ = false;
};

// The platform half: makes a new folder whose name begins with `prefix` in
// the temporary folder and returns its path; empty if none could be made.
std::string MakeUniqueTempDir(const char* prefix);
// Sets an environment variable of this process, which the programs a test
// starts inherit.
void SetTestEnvironment(const char* name, const char* value);
