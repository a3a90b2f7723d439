#pragma once
// The connections between requests, on one thread of their own: idle kept-alive ones and those
// whose request is still arriving wait here, in one poll, and take a worker only once a whole
// request is in. So a slow sender holds a few bytes of memory, never a thread, and a halt finds
// a worker free. Bounds: connections in all and per peer address (a new one pushes out the
// peer's slowest, so that one client cannot shut the others out), the time a request may take
// to arrive, and how long a kept-alive connection may idle.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace morvane::alpaca {

struct TGateLimits {
  size_t MaxRequestBytes = 16384;
  int RequestMs = 5000;
  int KeepAliveMs = 5000;
  size_t MaxConnections = 256;
  size_t MaxPerPeer = 32;
};

// One whole request's connection for a worker; Served: requests it had before this one.
struct TGateJob {
  int Sock = -1;
  std::string Buffered;
  int Served = 0;
  size_t Whole = 0;  // the request's bytes when all of them are in Buffered, else 0
  bool Halt = false;
};

class TConnectionGate {
 public:
  using THandOver = std::function<void(TGateJob job)>;

  TConnectionGate(TGateLimits limits, THandOver handOver);
  ~TConnectionGate();
  TConnectionGate(const TConnectionGate&) = delete;
  TConnectionGate& operator=(const TConnectionGate&) = delete;

  // A new connection, from the accepting thread.
  void Add(int sock);
  // A worker's connection after its request, kept alive with the bytes read beyond it.
  void Return(TGateJob job);
  // A worker's connection that ends: closed here, where its descriptor is accounted.
  void Close(int sock);
  // Closes every connection waiting here; those with a worker close when it returns them.
  void Stop();

  size_t Held() const;

 private:
  struct TConn {
    std::string Peer;
    std::string Buffered;
    int64_t SinceUs = 0;  // the first byte of the request now arriving, or the start of the idle
    uint64_t Order = 0;   // when it came, among the connections
    int Served = 0;
    bool WithWorker = false;
  };

  void Run();
  void Wake();
  // Frees a place for one more connection of the peer (empty: any), pushing out the oldest
  // that has yet to complete a request, else the oldest idle one. False when none waits here.
  bool Evict(const std::string& peer);
  void Drop(int sock);  // under FLock
  bool TakeWhole(int sock, TConn& c, TGateJob& job);

  const TGateLimits FLimits;
  const THandOver FHandOver;
  mutable std::mutex FLock;  // a leaf: the hand-over is called outside it
  std::map<int, TConn> FConns;
  uint64_t FOrder = 0;
  bool FStopping = false;
  int FWake = -1;  // eventfd: the set changed or a stop
  std::thread FThread;
};

}  // namespace morvane::alpaca
