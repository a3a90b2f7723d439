#pragma once
// One whole HTTP reply read off a raw socket: the library writes head and body apart, so one
// recv may hold the head alone.

#include <sys/socket.h>

#include <cstdlib>
#include <string>

namespace morvane::test {

// The reply's head and its Content-Length body; what came before the socket's wait ran out or
// the server closed, if that was sooner.
inline std::string ReadReply(int sock) {
  std::string reply;
  char buf[4096];
  for (;;) {
    const size_t head = reply.find("\r\n\r\n");
    if (head != std::string::npos) {
      const size_t at = reply.find("Content-Length: ");
      const size_t length = at < head ? std::strtoul(reply.c_str() + at + 16, nullptr, 10) : 0;
      if (reply.size() >= head + 4 + length) return reply;
    }
    const ssize_t n = recv(sock, buf, sizeof buf, 0);
    if (n <= 0) return reply;
    reply.append(buf, static_cast<size_t>(n));
  }
}

}  // namespace morvane::test
