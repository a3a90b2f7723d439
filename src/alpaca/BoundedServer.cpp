#include "alpaca/BoundedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "platform/Timing.h"

namespace morvane::alpaca {

namespace {

// Bytes read from a connection and not yet taken: they may begin the next request.
struct TReadBuffer {
  char Data[4096];
  size_t Begin = 0;
  size_t End = 0;
  bool Empty() const { return Begin == End; }
};

bool WaitFor(int sock, short events, int ms) {
  pollfd p{sock, events, 0};
  int r;
  do {
    r = poll(&p, 1, std::max(ms, 0));
  } while (r < 0 && errno == EINTR);
  return r > 0;
}

void Address(const sockaddr_storage& a, std::string& ip, int& port) {
  char text[INET6_ADDRSTRLEN] = "";
  if (a.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(a);
    inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    port = ntohs(v4.sin_port);
  } else if (a.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(a);
    inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    port = ntohs(v6.sin6_port);
  }
  ip = text;
}

// One request's view of the connection, with its byte budget and deadline.
class TBoundedStream : public httplib::Stream {
 public:
  TBoundedStream(int sock, TReadBuffer& buffer, int64_t deadlineUs, size_t budget)
      : FSock(sock), FBuffer(buffer), FDeadlineUs(deadlineUs), FBudget(budget) {}

  bool is_readable() const override { return !FBuffer.Empty() || WaitFor(FSock, POLLIN, LeftMs()); }
  bool is_writable() const override { return WaitFor(FSock, POLLOUT, WriteMs); }

  ssize_t read(char* ptr, size_t size) override {
    if (FBudget == 0) return -1;  // the request is too large: the connection is dropped
    if (FBuffer.Empty()) {
      if (!WaitFor(FSock, POLLIN, LeftMs())) return -1;
      const ssize_t n = recv(FSock, FBuffer.Data, sizeof FBuffer.Data, 0);
      if (n <= 0) return -1;
      FBuffer.Begin = 0;
      FBuffer.End = static_cast<size_t>(n);
    }
    const size_t n = std::min({size, FBuffer.End - FBuffer.Begin, FBudget});
    std::copy_n(FBuffer.Data + FBuffer.Begin, n, ptr);
    FBuffer.Begin += n;
    FBudget -= n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    size_t done = 0;
    while (done < size) {
      if (!WaitFor(FSock, POLLOUT, WriteMs)) return -1;
      const ssize_t n = send(FSock, ptr + done, size - done, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return -1;
      done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(size);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    if (getpeername(FSock, reinterpret_cast<sockaddr*>(&a), &len) == 0) Address(a, ip, port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    if (getsockname(FSock, reinterpret_cast<sockaddr*>(&a), &len) == 0) Address(a, ip, port);
  }
  socket_t socket() const override { return FSock; }

 private:
  static constexpr int WriteMs = 5000;
  int LeftMs() const { return static_cast<int>((FDeadlineUs - MonotonicMicros()) / 1000); }

  int FSock;
  TReadBuffer& FBuffer;
  int64_t FDeadlineUs;
  size_t FBudget;
};

}  // namespace

TBoundedServer::TBoundedServer(TServerLimits limits) : FLimits(limits) {
  const int threads = FLimits.Threads;
  new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<size_t>(threads)); };
  set_payload_max_length(FLimits.MaxRequestBytes);
  set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    if (req.headers.size() <= FLimits.MaxHeaders) return HandlerResponse::Unhandled;
    res.status = 431;
    res.set_content("Too many header lines\n", "text/plain");
    return HandlerResponse::Handled;
  });
}

bool TBoundedServer::process_and_close_socket(socket_t sock) {
  ++FActive;
  // The library writes a reply's head and body apart: without this, the body waits for the
  // client's delayed acknowledgement (40 ms).
  const int on = 1;
  setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  TReadBuffer buffer;
  bool ok = true;
  for (int served = 0; served < FLimits.MaxRequestsPerConnection; ++served) {
    // The wait for the next request, in slices so that a stop is not held up; shortened while
    // most threads are taken.
    const int64_t idleEnd =
        MonotonicMicros() +
        (FActive.load() >= FLimits.Threads - 2 ? 100 : FLimits.KeepAliveMs) * int64_t{1000};
    bool ready = !buffer.Empty();
    while (!ready && is_running() && MonotonicMicros() < idleEnd)
      ready = WaitFor(sock, POLLIN, 100);
    if (!ready || !is_running()) break;
    TBoundedStream stream(sock, buffer, MonotonicMicros() + int64_t{FLimits.RequestMs} * 1000,
                          FLimits.MaxRequestBytes);
    bool closed = false;
    const bool last = served + 1 == FLimits.MaxRequestsPerConnection;
    if (!process_request(stream, last, closed, nullptr)) {
      ok = false;
      break;
    }
    if (closed) break;
  }
  shutdown(sock, SHUT_RDWR);
  close(sock);
  --FActive;
  return ok;
}

}  // namespace morvane::alpaca
