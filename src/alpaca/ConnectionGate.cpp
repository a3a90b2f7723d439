#include "alpaca/ConnectionGate.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "alpaca/RequestHead.h"
#include "platform/Timing.h"

namespace morvane::alpaca {

namespace {

constexpr char Refusal[] =
    "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain\r\nContent-Length: 27\r\n"
    "Connection: close\r\n\r\nToo many connections: later\n";

std::string PeerOf(int sock) {
  sockaddr_storage a{};
  socklen_t len = sizeof a;
  char text[INET6_ADDRSTRLEN] = "";
  if (getpeername(sock, reinterpret_cast<sockaddr*>(&a), &len) != 0) return {};
  if (a.ss_family == AF_INET)
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(a).sin_addr, text, sizeof text);
  else if (a.ss_family == AF_INET6)
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(a).sin6_addr, text, sizeof text);
  return text;
}

}  // namespace

TConnectionGate::TConnectionGate(TGateLimits limits, THandOver handOver)
    : FLimits(limits), FHandOver(std::move(handOver)), FWake(eventfd(0, EFD_CLOEXEC)) {
  FThread = std::thread([this] { Run(); });
}

TConnectionGate::~TConnectionGate() {
  Stop();
  FThread.join();
  std::lock_guard<std::mutex> lock(FLock);
  for (auto& [sock, c] : FConns) close(sock);
  FConns.clear();
  close(FWake);
}

void TConnectionGate::Wake() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(FWake, &one, sizeof one);
}

size_t TConnectionGate::Held() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FConns.size();
}

void TConnectionGate::Drop(int sock) {
  shutdown(sock, SHUT_RDWR);
  close(sock);
  FConns.erase(sock);
}

bool TConnectionGate::Evict(const std::string& peer) {
  // A connection that has completed a request is a client's; one that has not may be a slow
  // sender's, and goes first.
  int oldest = -1;
  bool oldestProven = false;
  uint64_t oldestOrder = 0;
  for (const auto& [sock, c] : FConns) {
    if (c.WithWorker || (!peer.empty() && c.Peer != peer)) continue;
    const bool proven = c.Served > 0 && c.Buffered.empty();
    if (oldest < 0 || (!proven && oldestProven) ||
        (proven == oldestProven && c.Order < oldestOrder)) {
      oldest = sock;
      oldestProven = proven;
      oldestOrder = c.Order;
    }
  }
  if (oldest < 0) return false;
  Drop(oldest);
  return true;
}

void TConnectionGate::Add(int sock) {
  const int on = 1;
  // The library writes a reply's head and body apart: without this, the body waits for the
  // client's delayed acknowledgement (40 ms).
  setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  TConn c;
  c.Peer = PeerOf(sock);
  c.SinceUs = MonotonicMicros();
  {
    std::lock_guard<std::mutex> lock(FLock);
    const size_t fromPeer = static_cast<size_t>(std::count_if(
        FConns.begin(), FConns.end(), [&](const auto& p) { return p.second.Peer == c.Peer; }));
    const bool room = !FStopping && (fromPeer < FLimits.MaxPerPeer || Evict(c.Peer)) &&
                      (FConns.size() < FLimits.MaxConnections || Evict({}));
    if (!room) {
      send(sock, Refusal, sizeof Refusal - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
      close(sock);
      return;
    }
    c.Order = ++FOrder;
    FConns.emplace(sock, std::move(c));
  }
  Wake();
}

bool TConnectionGate::TakeWhole(int sock, TConn& c, TGateJob& job) {
  const THeadScan scan = ScanRequest(c.Buffered, FLimits.MaxRequestBytes);
  if (scan.Need == 0 || c.Buffered.size() < scan.Need) return false;
  c.WithWorker = true;
  job.Sock = sock;
  job.Buffered = std::move(c.Buffered);
  c.Buffered.clear();
  job.Served = c.Served;
  job.Whole = scan.Whole ? scan.Need : 0;
  job.Halt = scan.Halt;
  return true;
}

void TConnectionGate::Return(TGateJob job) {
  TGateJob whole;
  {
    std::lock_guard<std::mutex> lock(FLock);
    const auto it = FConns.find(job.Sock);
    if (it == FConns.end()) return;
    if (FStopping) return Drop(job.Sock);
    TConn& c = it->second;
    c.WithWorker = false;
    c.Buffered = std::move(job.Buffered);
    c.Served = job.Served;
    c.SinceUs = MonotonicMicros();
    // A request sent behind the last one goes straight back to a worker.
    if (!TakeWhole(job.Sock, c, whole)) whole.Sock = -1;
  }
  if (whole.Sock >= 0)
    FHandOver(std::move(whole));
  else
    Wake();
}

void TConnectionGate::Close(int sock) {
  std::lock_guard<std::mutex> lock(FLock);
  if (FConns.count(sock)) Drop(sock);
}

void TConnectionGate::Stop() {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FStopping = true;
  }
  Wake();
}

void TConnectionGate::Run() {
  std::vector<pollfd> polled;
  std::vector<TGateJob> whole;
  for (;;) {
    int timeoutMs = 1000;
    polled.assign(1, pollfd{FWake, POLLIN, 0});
    {
      std::lock_guard<std::mutex> lock(FLock);
      if (FStopping) {
        for (auto it = FConns.begin(); it != FConns.end();) {
          const int sock = (it++)->first;
          if (!FConns.at(sock).WithWorker) Drop(sock);
        }
        return;
      }
      const int64_t now = MonotonicMicros();
      for (auto it = FConns.begin(); it != FConns.end();) {
        const int sock = it->first;
        const TConn& c = (it++)->second;
        if (c.WithWorker) continue;
        const int limitMs = c.Buffered.empty() ? FLimits.KeepAliveMs : FLimits.RequestMs;
        const int64_t leftMs = (c.SinceUs - now) / 1000 + limitMs;
        if (leftMs <= 0) {
          Drop(sock);  // too slow a request, or idle too long
          continue;
        }
        timeoutMs = static_cast<int>(std::min<int64_t>(timeoutMs, leftMs));
        polled.push_back(pollfd{sock, POLLIN, 0});
      }
    }
    if (poll(polled.data(), polled.size(), timeoutMs) < 0 && errno != EINTR) return;
    if (polled[0].revents) {
      uint64_t count;
      [[maybe_unused]] const ssize_t n = read(FWake, &count, sizeof count);
    }
    whole.clear();
    {
      std::lock_guard<std::mutex> lock(FLock);
      for (size_t i = 1; i < polled.size(); ++i) {
        if (!polled[i].revents) continue;
        const int sock = polled[i].fd;
        const auto it = FConns.find(sock);
        if (it == FConns.end() || it->second.WithWorker) continue;
        TConn& c = it->second;
        char bytes[4096];
        const size_t room =
            FLimits.MaxRequestBytes - std::min(FLimits.MaxRequestBytes, c.Buffered.size());
        const ssize_t n = room ? recv(sock, bytes, std::min(room, sizeof bytes), MSG_DONTWAIT) : 0;
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) {
          Drop(sock);  // closed by the client, or a head larger than a whole request may be
          continue;
        }
        if (c.Buffered.empty()) c.SinceUs = MonotonicMicros();
        c.Buffered.append(bytes, static_cast<size_t>(n));
        TGateJob job;
        if (TakeWhole(sock, c, job)) whole.push_back(std::move(job));
      }
    }
    for (TGateJob& job : whole) FHandOver(std::move(job));
  }
}

}  // namespace morvane::alpaca
