// Port names as a settings file or a command line hands them over. Properties
// of the two parsers (the console server's names, and tarnwick-cli's, which
// takes those and the local ports):
// - a name taken as a console server's gives a host and a port 1..65535, and
//   its own text for the user (prefix, HOST:PORT) parses back to the same;
// - a name refused gets an error, and the error is bounded by the name;
// - tarnwick-cli takes a console server's name exactly when the console
//   server's parser does, whatever the platform; anything else it takes is a
//   COM number 1..255 or, with paths, a device path.
#include <cstdint>
#include <string>

#include "app/cli/port_name.h"
#include "fuzz_support.h"
#include "serial/net_port_name.h"

namespace {

const char* PrefixOf(NetPortKind kind) { return kind == NetPortKind::kRaw ? "tcp://" : "rfc2217://"; }

void CheckNet(const std::string& text) {
  NetPortName name;
  std::string error;
  const bool ok = ParseNetPortName(text, &name, &error);
  if (!ok) {
    FUZZ_CHECK(!error.empty());
    FUZZ_CHECK(error.size() <= text.size() + 200);
    return;
  }
  FUZZ_CHECK(IsNetPortName(text.c_str()));
  FUZZ_CHECK(!name.host.empty());
  FUZZ_CHECK(name.port >= 1);
  const std::string again = PrefixOf(name.kind) + NetEndpointText(name);
  NetPortName back;
  FUZZ_CHECK(ParseNetPortName(again, &back, &error));
  FUZZ_CHECK(back.kind == name.kind && back.host == name.host && back.port == name.port);
}

void CheckCli(const std::string& text, bool paths) {
  PortName port;
  std::string error;
  const bool ok = ParsePortName(text, paths, &port, &error);
  if (!ok) {
    FUZZ_CHECK(!error.empty());
    FUZZ_CHECK(error.size() <= text.size() + 200);
  }
  if (IsNetPortName(text.c_str())) {
    NetPortName net;
    std::string netError;
    FUZZ_CHECK(ok == ParseNetPortName(text, &net, &netError));
    if (ok) FUZZ_CHECK(port.comport == 0 && port.device == text);
    return;
  }
  if (!ok) return;
  FUZZ_CHECK(port.text == text);
  if (port.comport != 0) {
    FUZZ_CHECK(port.comport >= 1 && port.comport <= 255);
    FUZZ_CHECK(port.device.empty());
  } else {
    FUZZ_CHECK(paths && !port.device.empty());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  CheckNet(text);
  CheckCli(text, true);
  CheckCli(text, false);
  return 0;
}
