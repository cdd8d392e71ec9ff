// The test folders: each one fresh and of its own, even when many are made
// at once under one prefix, and gone with what it holds when the object goes.
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

TEST(TempDirTest, EachFolderIsFreshAndGoesWithAllItHolds) {
  constexpr int kThreads = 8;
  constexpr int kEach = 16;
  std::vector<std::unique_ptr<TempDir>> dirs(kThreads * kEach);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&dirs, t] {
      for (int i = 0; i < kEach; ++i) dirs[t * kEach + i] = std::make_unique<TempDir>("twt-same");
    });
  }
  for (std::thread& t : threads) t.join();

  const fs::path base = fs::canonical(fs::temp_directory_path());
  std::set<std::string> seen;
  for (const auto& d : dirs) {
    ASSERT_FALSE(d->path().empty());
    EXPECT_TRUE(seen.insert(d->path()).second) << "shared: " << d->path();
    EXPECT_TRUE(fs::is_directory(d->path())) << d->path();
    EXPECT_TRUE(fs::is_empty(d->path())) << d->path();
    EXPECT_EQ(fs::canonical(d->path()).parent_path(), base) << d->path();
    EXPECT_EQ(fs::path(d->path()).filename().string().rfind("twt-same", 0), 0u) << d->path();
  }

  // Nested folders and files go with it; a kept folder stays.
  const std::string first = dirs[0]->path();
  fs::create_directories(fs::path(first) / "a" / "b");
  std::ofstream(*dirs[0] / "a/b/file.bin") << "x";
  std::ofstream(*dirs[0] / "top.txt") << "y";
  const std::string kept = dirs[1]->path();
  dirs[1]->Keep();
  dirs.clear();
  EXPECT_FALSE(fs::exists(first)) << first;
  EXPECT_TRUE(fs::is_directory(kept)) << kept;
  for (const std::string& p : seen) {
    if (p != kept) {
      EXPECT_FALSE(fs::exists(p)) << p;
    }
  }
  fs::remove(kept);
}

}  // namespace
