#pragma once
// Calls to Morvane made on a thread of their own, so that a slow answer never holds the
// driver's event loop; each result comes back on the loop, in the order of the calls.
//
// The worker owns its thread and its own bus connection (the caller Morvane sees), and joins
// the thread when destroyed, after the calls already posted have been made.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "busclient/FocuserClient.h"

namespace morvane {

class TBusWorker {
 public:
  using TCall = std::function<TBusReply(TFocuserClient&)>;
  using TDone = std::function<void(const TBusReply&)>;

  explicit TBusWorker(int callTimeoutMs);
  ~TBusWorker();
  TBusWorker(const TBusWorker&) = delete;
  TBusWorker& operator=(const TBusWorker&) = delete;

  // Readable when results wait: for the event loop to watch.
  int Fd() const { return FWake; }
  void Post(TCall call, TDone done);
  // The results that have come, as handlers to run on the event loop (the worker may be gone
  // by the time a handler has run).
  std::vector<std::function<void()>> Take();

 private:
  void Work(int callTimeoutMs);

  int FWake = -1;
  std::mutex FLock;  // protects the two queues and FStopping
  std::condition_variable FPosted;
  std::deque<std::pair<TCall, TDone>> FCalls;
  std::vector<std::function<void()>> FResults;
  bool FStopping = false;
  std::thread FThread;
};

}  // namespace morvane
