#include <gtest/gtest.h>

#include <string>

#include "serial/net_port_name.h"

namespace {

TEST(NetPortNameTest, TakesExactlyPrefixHostAndPort) {
  struct Case {
    const char* text;
    bool ok;
    NetPortKind kind;
    const char* host;
    uint16_t port;
    const char* errorPart;
  } cases[] = {
      {"socket://127.0.0.1:2001", true, NetPortKind::kRaw, "127.0.0.1", 2001, ""},
      {"tcp://cs-7.lab_a:65535", true, NetPortKind::kRaw, "cs-7.lab_a", 65535, ""},
      {"Rfc2217://console1:1", true, NetPortKind::kRfc2217, "console1", 1, ""},
      {"socket://[::1]:3000", true, NetPortKind::kRaw, "::1", 3000, ""},
      {"socket://127.0.0.1", false, NetPortKind::kRaw, "", 0, "port number is missing"},
      {"socket://:2001", false, NetPortKind::kRaw, "", 0, "host is missing"},
      {"socket://host:0", false, NetPortKind::kRaw, "", 0, "1 to 65535"},
      {"socket://host:65536", false, NetPortKind::kRaw, "", 0, "1 to 65535"},
      {"socket://host:20x1", false, NetPortKind::kRaw, "", 0, "1 to 65535"},
      {"socket://host:", false, NetPortKind::kRaw, "", 0, "1 to 65535"},
      {"socket://host:2001/", false, NetPortKind::kRaw, "", 0, "nothing after it"},
      {"rfc2217://host:2001?logging=debug", false, NetPortKind::kRaw, "", 0, "nothing after"},
      {"socket://user@host:2001", false, NetPortKind::kRaw, "", 0, "holds '@'"},
      {"socket://a b:2001", false, NetPortKind::kRaw, "", 0, "holds ' '"},
      {"socket://::1:2001", false, NetPortKind::kRaw, "", 0, "holds ':'"},
      {"socket://[::1:2001", false, NetPortKind::kRaw, "", 0, "no closing ]"},
      {"socket://[::1]2001", false, NetPortKind::kRaw, "", 0, "port number is missing"},
      {"socket://[host]:2001", false, NetPortKind::kRaw, "", 0, "no IPv6 address"},
      {"telnet://host:23", false, NetPortKind::kRaw, "", 0, "no network port"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    NetPortName name;
    std::string error;
    ASSERT_EQ(ParseNetPortName(c.text, &name, &error), c.ok) << error;
    EXPECT_EQ(IsNetPortName(c.text), std::string(c.text).rfind("telnet", 0) != 0);
    if (!c.ok) {
      EXPECT_NE(error.find(c.errorPart), std::string::npos) << error;
      continue;
    }
    EXPECT_EQ(name.kind, c.kind);
    EXPECT_EQ(name.host, c.host);
    EXPECT_EQ(name.port, c.port);
  }
  NetPortName v6;
  std::string error;
  ASSERT_TRUE(ParseNetPortName("socket://[fe80::1]:22", &v6, &error));
  EXPECT_EQ(NetEndpointText(v6), "[fe80::1]:22");
  EXPECT_FALSE(ParseNetPortName("socket://" + std::string(250, 'h') + ":2001", &v6, &error));
  EXPECT_FALSE(IsNetPortName("/dev/ttyUSB0"));
  EXPECT_FALSE(IsNetPortName("sock"));
}

}  // namespace
