#include "alpaca/BoundedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "platform/Timing.h"

namespace morvane::alpaca {

namespace {

// Waits for the socket, or until the stop descriptor turns readable (then false).
bool WaitFor(int sock, short events, int ms, int stopFd) {
  pollfd p[2] = {{sock, events, 0}, {stopFd, POLLIN, 0}};
  int r;
  do {
    r = poll(p, 2, std::max(ms, 0));
  } while (r < 0 && errno == EINTR);
  return r > 0 && p[0].revents && !p[1].revents;
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
  // buffer: bytes the gate read, taken first; what is left of it after the request stays.
  // whole: the request's length when all of it is in the buffer (0: not known), where the
  // stream ends for this request.
  TBoundedStream(int sock, std::string& buffer, size_t whole, int64_t deadlineUs, size_t budget,
                 int stopFd)
      : FSock(sock),
        FBuffer(buffer),
        FWhole(whole),
        FDeadlineUs(deadlineUs),
        FBudget(budget),
        FStopFd(stopFd) {}

  bool is_readable() const override {
    return FWhole || FBegin < FBuffer.size() || WaitFor(FSock, POLLIN, LeftMs(), FStopFd);
  }
  bool is_writable() const override { return WaitFor(FSock, POLLOUT, WriteMs, FStopFd); }
  // The bytes read beyond this request: the start of the next one.
  std::string Rest() const { return FBuffer.substr(std::min(FBegin, FBuffer.size())); }

  ssize_t read(char* ptr, size_t size) override {
    if (FBudget == 0) return -1;  // the request is too large: the connection is dropped
    if (FWhole && FBegin >= FWhole) return 0;  // its end: a body without a length is empty
    if (FBegin >= FBuffer.size()) {
      if (!WaitFor(FSock, POLLIN, LeftMs(), FStopFd)) return -1;
      char bytes[4096];
      const ssize_t n = recv(FSock, bytes, sizeof bytes, 0);
      if (n <= 0) return -1;
      FBuffer.assign(bytes, static_cast<size_t>(n));
      FBegin = 0;
    }
    const size_t n = std::min({size, (FWhole ? FWhole : FBuffer.size()) - FBegin, FBudget});
    std::copy_n(FBuffer.data() + FBegin, n, ptr);
    FBegin += n;
    FBudget -= n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    size_t done = 0;
    while (done < size) {
      if (!WaitFor(FSock, POLLOUT, WriteMs, FStopFd)) return -1;
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
  std::string& FBuffer;
  const size_t FWhole;
  size_t FBegin = 0;
  int64_t FDeadlineUs;
  size_t FBudget;
  int FStopFd;
};

// The accepting thread's queue: runs the task at once, as it only hands the new connection to
// the gate.
class TInlineQueue : public httplib::TaskQueue {
 public:
  void enqueue(std::function<void()> fn) override { fn(); }
  void shutdown() override {}
};

// The header lines the library adds to each request before the handlers see it:
// REMOTE_ADDR, REMOTE_PORT, LOCAL_ADDR and LOCAL_PORT.
constexpr size_t LibraryHeaders = 4;

// Connections the kernel may hold before the accepting thread takes them to the gate.
constexpr int ListenBacklog = 256;

}  // namespace

TBoundedServer::TBoundedServer(TServerLimits limits)
    : FLimits(limits),
      FStopFd(eventfd(0, EFD_CLOEXEC)),
      FGate({.MaxRequestBytes = limits.MaxRequestBytes,
             .RequestMs = limits.RequestMs,
             .KeepAliveMs = limits.KeepAliveMs,
             .MaxConnections = limits.MaxConnections,
             .MaxPerPeer = limits.MaxPerPeer},
            [this](TGateJob job) { Queue(std::move(job)); }) {
  new_task_queue = [] { return new TInlineQueue; };
  // One worker takes halts only, so that a halt never waits for a worker.
  for (int i = 0; i < std::max(FLimits.Threads, 2); ++i)
    FWorkers.emplace_back([this, i] { Work(i == 0); });
  set_payload_max_length(FLimits.MaxRequestBytes);
  set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    if (FStopping) {
      res.status = 503;
      res.set_content("The server is stopping\n", "text/plain");
      return HandlerResponse::Handled;
    }
    if (req.headers.size() > FLimits.MaxHeaders + LibraryHeaders) {
      res.status = 431;
      res.set_content("Too many header lines\n", "text/plain");
      return HandlerResponse::Handled;
    }
    return FFront ? FFront(req, res) : HandlerResponse::Unhandled;
  });
}

TBoundedServer::~TBoundedServer() {
  Shutdown();
  {
    std::lock_guard<std::mutex> lock(FJobsLock);
    FJobsEnd = true;
  }
  FJobsCv.notify_all();
  for (std::thread& t : FWorkers) t.join();
  close(FStopFd);
}

bool TBoundedServer::Bind(const std::string& host, int port) {
  if (!bind_to_port(host, port)) return false;
  // The library listens with a backlog of 5: a burst of connections (slow clients opening
  // many) overflowed it, and a client's connection dropped there waits a second or more for
  // its SYN to be sent again. Listening again on the socket only raises the backlog.
  return ::listen(svr_sock_, ListenBacklog) == 0;
}

void TBoundedServer::Shutdown() {
  if (FStopping.exchange(true)) return;
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(FStopFd, &one, sizeof one);
  FGate.Stop();
  // As the library's stop, but also before its loop has begun, which would then not start.
  const socket_t listening = svr_sock_.exchange(INVALID_SOCKET);
  if (listening != INVALID_SOCKET) {
    shutdown(listening, SHUT_RDWR);
    close(listening);
  }
}

bool TBoundedServer::process_and_close_socket(socket_t sock) {
  FGate.Add(sock);
  return true;
}

void TBoundedServer::Queue(TGateJob job) {
  {
    std::lock_guard<std::mutex> lock(FJobsLock);
    (job.Halt ? FHalts : FJobs).push_back(std::move(job));
  }
  FJobsCv.notify_all();
}

void TBoundedServer::Work(bool haltsOnly) {
  for (;;) {
    TGateJob job;
    {
      std::unique_lock<std::mutex> lock(FJobsLock);
      FJobsCv.wait(lock,
                   [&] { return FJobsEnd || !FHalts.empty() || (!haltsOnly && !FJobs.empty()); });
      std::deque<TGateJob>& from = !FHalts.empty() ? FHalts : FJobs;
      if (from.empty() || (haltsOnly && &from != &FHalts)) return;
      job = std::move(from.front());
      from.pop_front();
    }
    Serve(std::move(job));
  }
}

void TBoundedServer::Serve(TGateJob job) {
  if (FStopping) return FGate.Close(job.Sock);
  TBoundedStream stream(job.Sock, job.Buffered, job.Whole,
                        MonotonicMicros() + int64_t{FLimits.RequestMs} * 1000,
                        FLimits.MaxRequestBytes, FStopFd);
  bool closed = false;
  const bool last = job.Served + 1 >= FLimits.MaxRequestsPerConnection;
  if (!process_request(stream, last, closed, nullptr) || closed || last || FStopping)
    return FGate.Close(job.Sock);
  job.Buffered = stream.Rest();
  ++job.Served;
  FGate.Return(std::move(job));
}

}  // namespace morvane::alpaca
