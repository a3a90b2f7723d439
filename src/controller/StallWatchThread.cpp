#include "controller/StallWatchThread.h"

#include <chrono>

#include "controller/Objects.h"
#include "controller/StallRule.h"

namespace morvane {

TStallWatchThread::TStallWatchThread(TFocusControl& controller)
    : TThread("mrv-stallwatch", TThreadPriority::tpHigher), Controller(controller) {
  Start();
}

TStallWatchThread::~TStallWatchThread() {
  Stop();
}

void TStallWatchThread::Wake() {
  {
    std::lock_guard lock(FLock);
    FWoken = true;
  }
  FChanged.notify_one();
}

void TStallWatchThread::Stop() {
  {
    std::lock_guard lock(FLock);
    FStopping = true;
  }
  FChanged.notify_one();
  WaitFor();
}

void TStallWatchThread::Execute() {
  std::unique_lock lock(FLock);
  while (!FStopping) {
    FWoken = false;
    lock.unlock();
    const TStallVerdict verdict = Controller.JudgeStall();
    if (verdict.Stalled) Controller.StopStalled(verdict.LimitUs);
    Controller.CheckLimit();
    lock.lock();
    if (verdict.Stalled) continue;
    const auto woken = [this] { return FWoken || FStopping; };
    if (verdict.CheckAtUs == TStallVerdict::Never) {
      FChanged.wait(lock, woken);
    } else {
      const int64_t left = verdict.CheckAtUs - MonotonicMicros();
      if (left > 0) FChanged.wait_for(lock, std::chrono::microseconds(left), woken);
    }
  }
}

}  // namespace morvane
