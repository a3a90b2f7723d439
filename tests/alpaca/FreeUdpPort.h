#pragma once
// A UDP port on the loopback interface that nothing is bound to now, for a discovery
// responder a test starts.

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace morvane::test {

inline int FreeUdpPort() {
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  close(s);
  return ntohs(a.sin_port);
}

}  // namespace morvane::test
