#pragma once
// Alpaca's UDP discovery: a datagram that starts with "alpacadiscovery" is answered with
// {"AlpacaPort": <port>} to its sender. The port is shared with other Alpaca servers on the
// host (SO_REUSEADDR and SO_REUSEPORT). Answered only where the HTTP server listens: bound to
// a loopback address itself; for another address, bound to all and answering only datagrams
// that reached that address's interface (a broadcast is not addressed to the host's own).

#include <atomic>
#include <string>
#include <thread>

namespace morvane::alpaca {

class TDiscovery {
 public:
  TDiscovery(const std::string& listen, int port, int alpacaPort);
  ~TDiscovery();
  TDiscovery(const TDiscovery&) = delete;
  TDiscovery& operator=(const TDiscovery&) = delete;

  bool Ok() const { return FSocket >= 0; }
  const std::string& Error() const { return FError; }
  // Datagrams answered so far.
  unsigned Answered() const { return FAnswered; }

 private:
  void Run();

  int FSocket = -1;
  int FStop = -1;
  unsigned FListen = 0;  // network order; 0 answers on every interface
  int FAlpacaPort = 0;
  std::atomic<unsigned> FAnswered{0};
  std::string FError;
  std::thread FThread;
};

}  // namespace morvane::alpaca
