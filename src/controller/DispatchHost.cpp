#include "controller/DispatchHost.h"

#include <algorithm>
#include <iostream>
#include <vector>

namespace morvane {

TDispatchHost::TDispatchHost() : FThread(&TDispatchHost::Loop, this) {}

TDispatchHost::~TDispatchHost() { Shutdown(); }

void TDispatchHost::Shutdown() {
  {
    std::lock_guard lock(FLock);
    FStop = true;
  }
  FChanged.notify_all();
  if (FThread.joinable()) FThread.join();
}

void TDispatchHost::ShowMessage(const std::string& text) { std::cerr << "Morvane: " << text << "\n"; }

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
  FTimers[FNextTimer] = TTimer{interval, std::move(tick), std::chrono::steady_clock::now() + interval};
  FChanged.notify_all();
  return FNextTimer++;
}

void TDispatchHost::StopTimer(int id) {
  std::lock_guard lock(FLock);
  FTimers.erase(id);
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
    std::vector<std::function<void()>> due;
    for (auto& [id, t] : FTimers) {
      if (t.Due <= now) {
        t.Due = now + t.Interval;
        due.push_back(t.Tick);
      }
      next = std::min(next, t.Due);
    }
    if (!due.empty()) {
      lock.unlock();
      for (auto& tick : due) tick();
      lock.lock();
      continue;
    }
    FChanged.wait_until(lock, next);
  }
}

}  // namespace morvane
