#include "platform/socket_resolve.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include "platform/bounded_call.h"

int ResolveWithin(const std::string& host, uint16_t port, uint32_t ms, ResolveErrors errors,
                  addrinfo** out) {
  struct Answer {
    int rc;
    addrinfo* list;
  };
  const std::string service = std::to_string(port);
  Answer answer{};
  const BoundedCall call = CallWithin<Answer>(
      ms,
      [host, service] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_protocol = IPPROTO_TCP;
        hints.ai_flags = AI_NUMERICSERV;
        Answer a{0, nullptr};
        a.rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &a.list);
        return a;
      },
      [](Answer late) {
        if (late.rc == 0 && late.list) freeaddrinfo(late.list);
      },
      &answer);
  if (call == BoundedCall::kNoThread) return errors.noThread;
  if (call == BoundedCall::kTimedOut) return errors.timedOut;
  if (answer.rc != 0) return answer.rc;
  *out = answer.list;
  return 0;
}

ConnectResult ConnectFirstAddress(
    addrinfo* list,
    const std::function<ConnectResult(const addrinfo*, SocketHandle*, std::string*)>& one,
    const std::function<bool()>& expired, SocketHandle* out, std::string* detail) {
  ConnectResult result = ConnectResult::kFailed;
  for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
    std::string why;
    SocketHandle s = kNoSocket;
    const ConnectResult r = one(ai, &s, &why);
    if (r == ConnectResult::kConnected) {
      freeaddrinfo(list);
      *out = s;
      detail->clear();
      return r;
    }
    if (result != ConnectResult::kRefused || r == ConnectResult::kRefused) {
      result = r;
      *detail = why;
    }
    if (expired()) {
      if (result != ConnectResult::kRefused) result = ConnectResult::kTimedOut;
      break;
    }
  }
  freeaddrinfo(list);
  return result;
}
