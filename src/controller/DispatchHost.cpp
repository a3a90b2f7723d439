#include "controller/DispatchHost.h"

#include <algorithm>
#include <iostream>

namespace morvane {

TDispatchHost::TDispatchHost() : FThread(&TDispatchHost::Loop, this) {}

TDispatchHost::~TDispatchHost() {
  Shutdown();
}

void TDispatchHost::Shutdown() {
  {
    std::lock_guard lock(FLock);
    FStop = true;
  }
  FChanged.notify_all();
  if (FThread.joinable()) FThread.join();
}

void TDispatchHost::ShowMessage(const std::string& text) {
  std::cerr << "Morvane: " << text << "\n";
}

void TDispatchHost::Post(std::function<void()> fn) {
  {
    std::lock_guard lock(FLock);
    FQueue.push_back(std::move(fn));
  }
  FChanged.notify_all();
}

int TDispatchHost::StartTimer(int intervalMs, std::function<void()> tick) {
  std::lock_guard lock(FLock);
  const auto interval = std::chrono::milliseconds(intervalMs);
  FTimers[FNextTimer] =
      TTimer{interval, std::move(tick), std::chrono::steady_clock::now() + interval};
  FChanged.notify_all();
  return FNextTimer++;
}

void TDispatchHost::StopTimer(int id) {
  std::unique_lock lock(FLock);
  FTimers.erase(id);
  // Called from another thread, wait out a tick of this timer that is running now, so that
  // the timer's owner can go away once this returns.
  if (std::this_thread::get_id() != FThread.get_id())
    FChanged.wait(lock, [&] { return FTicking != id; });
}

void TDispatchHost::Run(std::function<void()> fn) {
  std::promise<void> done;
  Post([&] {
    fn();
    done.set_value();
  });
  done.get_future().wait();
}

void TDispatchHost::Loop() {
  std::unique_lock lock(FLock);
  while (!FStop) {
    if (!FQueue.empty()) {
      auto fn = std::move(FQueue.front());
      FQueue.pop_front();
      lock.unlock();
      fn();
      lock.lock();
      continue;
    }
    auto now = std::chrono::steady_clock::now();
    auto next = now + std::chrono::hours(1);
    int dueId = 0;
    for (auto& [id, t] : FTimers) {
      if (t.Due <= now && !dueId) {
        t.Due = now + t.Interval;
        dueId = id;
      }
      next = std::min(next, t.Due);
    }
    if (dueId) {
      // One tick at a time, the timer still registered when it runs.
      auto tick = FTimers[dueId].Tick;
      FTicking = dueId;
      lock.unlock();
      tick();
      lock.lock();
      FTicking = 0;
      FChanged.notify_all();
      continue;
    }
    FChanged.wait_until(lock, next);
  }
}

}  // namespace morvane
