// tarnwick-cli through a socket:// port: a TCP relay on 127.0.0.1 carries the
// line to expander-sim's pseudo-terminal, as a raw console server would.
#include <gtest/gtest.h>

#include <string>

#include "integration/cli_process.h"
#include "integration/pty_relay.h"
#include "integration/sim_process.h"

namespace {

using cliproc::RunCli;
using simproc::ReadAll;
using simproc::SimProcess;

std::string MakeFile(const std::string& path, const std::string& images) {
  const std::string make = std::string(TARNWICK_FWIMAGE_PATH) + " make '" + path + "' " + images +
                           " --version 1.02.0000.11 >/dev/null";
  EXPECT_EQ(0, std::system(make.c_str()));
  return ReadAll(path);
}

TEST(NetSimTest, DownloadThroughASocketPortArrivesWhole) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--version", "1.02.0000.10", "--reboot-seconds", "1"}));
  const std::string file = sim.dir() + "/fw.bin";
  const std::string bytes = MakeFile(file, "--image fw:3000");
  PtyRelay relay(sim.path());
  const cliproc::Run run = RunCli({"download", "--port", relay.Name(), "--file", file, "--json"});
  ASSERT_EQ(0, run.code) << run.out << run.err;
  for (const auto& e : run.events) EXPECT_EQ(relay.Name(), e.value("port", ""));
  EXPECT_EQ(0, sim.Stop());
  const simproc::Report report = sim.ReadReport();
  EXPECT_TRUE(report.violations.empty()) << report.raw;
  ASSERT_EQ(1u, report.images.size()) << report.raw;
  EXPECT_TRUE(report.images[0].terminated);
  EXPECT_TRUE(ReadAll(report.images[0].file) == bytes.substr(0, 3000 + 28));
}

TEST(NetSimTest, ANetworkPortAndALocalPortTakeOneFileAtOnce) {
  SimProcess remote, local;
  ASSERT_TRUE(remote.Start({"--version", "1.02.0000.10", "--reboot-seconds", "1"}));
  ASSERT_TRUE(local.Start({"--version", "1.02.0000.10", "--reboot-seconds", "1"}));
  const std::string file = remote.dir() + "/fw.bin";
  MakeFile(file, "--image fw:2000");
  PtyRelay relay(remote.path());
  const cliproc::Run run = RunCli(
      {"download", "--port", relay.Name(), "--port", local.path(), "--file", file, "--json"});
  ASSERT_EQ(0, run.code) << run.out << run.err;
  for (SimProcess* sim : {&remote, &local}) {
    EXPECT_EQ(0, sim->Stop());
    const simproc::Report report = sim->ReadReport();
    ASSERT_EQ(1u, report.images.size()) << report.raw;
    EXPECT_TRUE(report.images[0].terminated);
  }
  const nlohmann::json summary = nlohmann::json::parse(run.out.substr(run.out.rfind("\n{") + 1));
  ASSERT_EQ(2u, summary["ports"].size()) << run.out;
  EXPECT_EQ(relay.Name(), summary["ports"][0].value("port", ""));
}

TEST(NetSimTest, AConnectionCutMidImageIsALostPort) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--version", "1.02.0000.10"}));
  const std::string file = sim.dir() + "/fw.bin";
  MakeFile(file, "--image fw:20000");
  // The console's commands are a few dozen bytes; 4000 are well inside the
  // image's packets.
  PtyRelay relay(sim.path(), 4000);
  const cliproc::Run run = RunCli({"download", "--port", relay.Name(), "--file", file, "--json"});
  EXPECT_TRUE(relay.cut());
  EXPECT_EQ(9, run.code) << run.out << run.err;
  ASSERT_FALSE(run.events.empty());
  EXPECT_EQ("port-lost", run.events.back().value("outcome", "")) << run.out;
}

}  // namespace
