// Every test process keeps its download history in a folder of its own:
// the history otherwise goes beside the test program, shared by every test
// and every run, and one test's downloads would decide another's.
#include <gtest/gtest.h>

#include <memory>

#include "support/temp_dir.h"

namespace {

class StateDirEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    dir_.reset(new TempDir("tarnwick-state"));
    // Programs the tests start (tarnwick-cli, the terminal dialog) inherit it.
    SetTestEnvironment("TARNWICK_STATE_DIR", dir_->path().c_str());
  }
  void TearDown() override { dir_.reset(); }

 private:
  std::unique_ptr<TempDir> dir_;
};

::testing::Environment* const kStateDir =
    ::testing::AddGlobalTestEnvironment(new StateDirEnvironment);

}  // namespace
