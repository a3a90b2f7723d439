#pragma once
// cpp-httplib's server with bounds on what one client may hold. Connections wait between
// requests in the gate (ConnectionGate.h), which gives one a worker only with a whole request
// in hand: a request's head and body together at most MaxRequestBytes, arrived within
// RequestMs of its first byte, at most MaxHeaders header lines; a kept-alive connection idles
// at most KeepAliveMs; at most MaxConnections in all and MaxPerPeer from one address. A halt
// goes ahead of other requests and has a worker kept for it alone. Shutdown refuses every
// request not yet begun and closes kept-alive connections at once.

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "alpaca/ConnectionGate.h"

namespace morvane::alpaca {

struct TServerLimits {
  size_t MaxRequestBytes = 16384;
  size_t MaxHeaders = 64;
  int RequestMs = 5000;
  int KeepAliveMs = 5000;
  int MaxRequestsPerConnection = 1000;
  int Threads = 16;
  size_t MaxConnections = 256;
  size_t MaxPerPeer = 32;
};

class TBoundedServer : public httplib::Server {
 public:
  explicit TBoundedServer(TServerLimits limits);
  ~TBoundedServer() override;
  const TServerLimits& Limits() const { return FLimits; }

  // Binds and listens with a backlog that a burst of connections does not overflow.
  bool Bind(const std::string& host, int port);
  // Called for each request after the server's own checks, before its body is read.
  void SetFront(HandlerWithResponse front) { FFront = std::move(front); }
  // Ends the serving: no request starts after it; callable from any thread.
  void Shutdown();
  bool Stopping() const { return FStopping.load(); }

 private:
  bool process_and_close_socket(socket_t sock) override;
  void Work(bool haltsOnly);
  void Serve(TGateJob job);
  void Queue(TGateJob job);

  const TServerLimits FLimits;
  std::atomic<bool> FStopping{false};
  int FStopFd = -1;  // eventfd, readable once stopping: ends the waits of requests under way
  HandlerWithResponse FFront;

  std::mutex FJobsLock;  // a leaf
  std::condition_variable FJobsCv;
  std::deque<TGateJob> FHalts;
  std::deque<TGateJob> FJobs;
  bool FJobsEnd = false;
  std::vector<std::thread> FWorkers;
  TConnectionGate FGate;
};

}  // namespace morvane::alpaca
