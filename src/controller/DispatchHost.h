#pragma once
// A GUI thread for programs without windows (the console front end, the benchmark, tests):
// one dispatcher thread runs posted calls and timer ticks in order; messages go to standard
// error.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "controller/ControllerHost.h"

namespace morvane {

class TDispatchHost : public TControllerHost {
 public:
  TDispatchHost();
  ~TDispatchHost() override;

  void ShowMessage(const std::string& text) override;
  void Post(std::function<void()> fn) override;
  int StartTimer(int intervalMs, std::function<void()> tick) override;
  void StopTimer(int id) override;

  // Runs fn on the dispatcher thread and waits for it.
  void Run(std::function<void()> fn);

  // Stops and joins the dispatcher; a derived host calls it first in its destructor, so
  // that no call reaches a half-destroyed object. Idempotent.
  void Shutdown();

 private:
  struct TTimer {
    std::chrono::milliseconds Interval;
    std::function<void()> Tick;
    std::chrono::steady_clock::time_point Due;
  };
  void Loop();

  std::mutex FLock;
  std::condition_variable FChanged;
  std::deque<std::function<void()>> FQueue;
  std::map<int, TTimer> FTimers;
  int FNextTimer = 1;
  int FTicking = 0;  // the timer whose tick runs now, 0 for none
  bool FStop = false;
  std::thread FThread;
};

}  // namespace morvane
