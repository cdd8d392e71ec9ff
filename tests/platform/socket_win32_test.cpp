// The silence limit on Windows, where no test here can stop a peer's packets:
// the connected socket carries it as TCP_MAXRT, in whole seconds.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/socket.h"

namespace {

constexpr int kTcpMaxRt = 5;  // TCP_MAXRT, which mingw-w64's headers lack

TEST(SocketWin32Test, TheConnectedSocketCarriesTheSilenceLimit) {
  for (uint32_t limitMs : {kSocketSilenceLimitMs, 2500u}) {
    SCOPED_TRACE(limitMs);
    SetSocketSilenceLimit(limitMs == kSocketSilenceLimitMs ? 0 : limitMs);
    uint16_t port = 0;
    const SocketHandle listener = SocketListenLoopback(0, &port);
    ASSERT_NE(listener, kNoSocket);
    SocketHandle s = kNoSocket;
    std::string detail;
    ASSERT_EQ(ConnectResult::kConnected, SocketConnect("127.0.0.1", port, 3000, &s, &detail))
        << detail;
    DWORD seconds = 0;
    int len = sizeof seconds;
    if (getsockopt(static_cast<SOCKET>(s), IPPROTO_TCP, kTcpMaxRt,
                   reinterpret_cast<char*>(&seconds), &len) != 0) {
      SocketClose(s);
      SocketClose(listener);
      SetSocketSilenceLimit(0);
      GTEST_SKIP() << "this Winsock does not report TCP_MAXRT (" << WSAGetLastError() << ")";
    }
    EXPECT_EQ(seconds, (limitMs + 999) / 1000);
    SocketClose(s);
    SocketClose(listener);
  }
  SetSocketSilenceLimit(0);
}

}  // namespace
