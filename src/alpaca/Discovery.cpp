#include "alpaca/Discovery.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace morvane::alpaca {

namespace {

constexpr char Request[] = "alpacadiscovery";

}  // namespace

TDiscovery::TDiscovery(const std::string& listen, int port, int alpacaPort)
    : FAlpacaPort(alpacaPort) {
  in_addr listenAddress{};
  if (inet_pton(AF_INET, listen.c_str(), &listenAddress) != 1) {
    FError = "'" + listen + "' is not an IPv4 address";
    return;
  }
  const bool loopback = (ntohl(listenAddress.s_addr) >> 24) == 127;
  FListen = listenAddress.s_addr;
  const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  setsockopt(s, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on);
  setsockopt(s, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = loopback ? listenAddress.s_addr : htonl(INADDR_ANY);
  if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    FError = "cannot open UDP port " + std::to_string(port) + ": " + std::strerror(errno);
    if (s >= 0) close(s);
    return;
  }
  FSocket = s;
  FStop = eventfd(0, EFD_CLOEXEC);
  FThread = std::thread(&TDiscovery::Run, this);
}

TDiscovery::~TDiscovery() {
  if (FSocket < 0) return;
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(FStop, &one, sizeof one);
  FThread.join();
  close(FStop);
  close(FSocket);
}

void TDiscovery::Run() {
  const std::string answer = "{\"AlpacaPort\":" + std::to_string(FAlpacaPort) + "}";
  for (;;) {
    pollfd fds[2] = {{FSocket, POLLIN, 0}, {FStop, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) continue;
    char data[512];
    sockaddr_in from{};
    iovec io{data, sizeof data};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr m{};
    m.msg_name = &from;
    m.msg_namelen = sizeof from;
    m.msg_iov = &io;
    m.msg_iovlen = 1;
    m.msg_control = control;
    m.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(FSocket, &m, MSG_DONTWAIT);
    if (n < static_cast<ssize_t>(sizeof Request - 1)) continue;
    if (std::memcmp(data, Request, sizeof Request - 1) != 0) continue;
    bool here = FListen == htonl(INADDR_ANY);
    for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c)) {
      if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
      in_pktinfo info;
      std::memcpy(&info, CMSG_DATA(c), sizeof info);
      here = here || info.ipi_spec_dst.s_addr == FListen;
    }
    if (!here) continue;
    ++FAnswered;  // before the answer leaves, so that its receiver sees the count
    sendto(FSocket, answer.data(), answer.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from),
           sizeof from);
  }
}

}  // namespace morvane::alpaca
