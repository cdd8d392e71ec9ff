// A temporary image file that cannot be written whole must not be sent.
// The write is made to fail with a file-size limit, which only POSIX offers.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "config/settings.h"
#include "download/download.h"
#include "support/download_peer.h"
#include "support/recording_view.h"
#include "support/scripted_expander.h"
#include "support/temp_dir.h"
#include "support/trace_capture.h"

namespace {

TEST(TempFileWriteTest, ShortTemporaryFileEndsTheSequence) {
  ScriptedPort port;
  DownloadPeer peer(port.exp());
  TraceCapture trace;
  ScopedView view;
  snprintf(my_cfg.signature, sizeof my_cfg.signature, "VRQ");
  my_cfg.dlretry = 3;
  g_bStopDl = 0;

  TempDir temp("flow_tmpdir");
  const std::string dir = temp.path();
  const char* oldTmp = getenv("TMPDIR");
  const std::string savedTmp = oldTmp ? oldTmp : "";
  setenv("TMPDIR", dir.c_str(), 1);

  const std::string path = dir + "/image.bin";
  const std::string file = MakeImage(0x06, 600, 1) + MakeVersionRecord(0, 2, 0, 0);
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(fwrite(file.data(), 1, file.size(), f), file.size());
  fclose(f);

  // No file may grow past 100 bytes while the download runs; nothing in
  // between may report through a file (expectations come afterwards).
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit small = saved;
  small.rlim_cur = 100;
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool result = fmdl_download(path.c_str());
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);
  if (oldTmp) {
    setenv("TMPDIR", savedTmp.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }

  EXPECT_FALSE(result);
  EXPECT_TRUE(peer.images().empty());
  EXPECT_EQ(peer.enters(), 1);
  EXPECT_EQ(peer.terminators(), 1);
  EXPECT_FALSE(trace.Contains("tmpfile="));
  // Only the image file is left in the folder.
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    ++entries;
    EXPECT_EQ(e.path().filename().string(), "image.bin");
  }
  EXPECT_EQ(entries, 1);
}

}  // namespace
