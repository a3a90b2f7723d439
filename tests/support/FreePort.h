#pragma once
// A TCP port on the loopback interface that nothing listens on now, for a server a test or a
// benchmark starts (indiserver).

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace morvane::test {

inline int FreePort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
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
