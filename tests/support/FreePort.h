#pragma once
// A port on the loopback interface that nothing uses now, for a server a test or a benchmark
// starts: TCP (indiserver, the Alpaca server) or UDP (a discovery responder).

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace morvane::test {

inline int FreePort(int type = SOCK_STREAM) {
  const int s = socket(AF_INET, type, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  close(s);
  return ntohs(a.sin_port);
}

inline int FreeUdpPort() {
  return FreePort(SOCK_DGRAM);
}

}  // namespace morvane::test
