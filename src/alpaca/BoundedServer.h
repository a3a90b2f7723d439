#pragma once
// cpp-httplib's server with bounds on what one client may hold: a request's head and body
// together at most MaxRequestBytes, all of it within RequestMs of its first byte, at most
// MaxHeaders header lines; a kept-alive connection idles at most KeepAliveMs, and only a moment
// once most worker threads are taken, so that slow or idle clients cannot hold up others.

#include <httplib.h>

#include <atomic>
#include <cstddef>

namespace morvane::alpaca {

struct TServerLimits {
  size_t MaxRequestBytes = 16384;
  size_t MaxHeaders = 64;
  int RequestMs = 5000;
  int KeepAliveMs = 5000;
  int MaxRequestsPerConnection = 1000;
  int Threads = 16;
};

class TBoundedServer : public httplib::Server {
 public:
  explicit TBoundedServer(TServerLimits limits);
  const TServerLimits& Limits() const { return FLimits; }

 private:
  bool process_and_close_socket(socket_t sock) override;

  const TServerLimits FLimits;
  std::atomic<int> FActive{0};
};

}  // namespace morvane::alpaca
