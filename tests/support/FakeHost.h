#pragma once
// The GUI thread for tests: a dispatcher whose message box records its texts and is
// "closed" after a set time, and whose timers tick only while the test lets them.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "controller/DispatchHost.h"

namespace morvane::test {

class TFakeHost : public TDispatchHost {
 public:
  ~TFakeHost() override { Shutdown(); }

  void ShowMessage(const std::string& text) override {
    {
      std::lock_guard lock(FLock);
      FMessages.push_back(text);
    }
    FChanged.notify_all();
    ++OpenBoxes;
    std::this_thread::sleep_for(std::chrono::milliseconds(MessageCloseMs.load()));
    --OpenBoxes;
  }

  int StartTimer(int intervalMs, std::function<void()> tick) override {
    ++FTimerCount;
    return TDispatchHost::StartTimer(intervalMs, [this, tick = std::move(tick)] {
      if (!FTimersEnabled.load()) return;
      tick();
      {
        std::lock_guard lock(FLock);
        ++FTicks;
      }
      FChanged.notify_all();
    });
  }
  void StopTimer(int id) override {
    --FTimerCount;
    TDispatchHost::StopTimer(id);
  }

  // Runs fn on the dispatcher thread and waits for it, as a call from the GUI would run.
  template <typename F>
  auto RunOnGui(F fn) -> decltype(fn()) {
    using R = decltype(fn());
    if constexpr (std::is_void_v<R>) {
      Run(fn);
    } else {
      R result{};
      Run([&] { result = fn(); });
      return result;
    }
  }

  // Timers tick only while enabled, so that tests choose when the keep-alive writes.
  void SetTimersEnabled(bool on) { FTimersEnabled.store(on); }
  size_t TimerCount() const { return static_cast<size_t>(FTimerCount.load()); }
  // Ticks run since the start, of all timers, while enabled.
  int Ticks() {
    std::lock_guard lock(FLock);
    return FTicks;
  }
  // Waits up to timeoutMs for n more ticks after those seen so far: each timer had its turns.
  bool WaitForTicks(int n, int timeoutMs = 10000) {
    std::unique_lock lock(FLock);
    const int until = FTicks + n;
    return FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return FTicks >= until; });
  }

  std::vector<std::string> Messages() {
    std::lock_guard lock(FLock);
    return FMessages;
  }
  // Waits up to timeoutMs for the n-th message.
  bool WaitForMessages(size_t n, int timeoutMs) {
    std::unique_lock lock(FLock);
    return FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return FMessages.size() >= n; });
  }

  std::atomic<int> MessageCloseMs{0};  // how long the "user" takes to close a message box
  std::atomic<int> OpenBoxes{0};       // message boxes shown and not yet closed

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  std::vector<std::string> FMessages;
  std::atomic<bool> FTimersEnabled{false};
  std::atomic<int> FTimerCount{0};
  int FTicks = 0;  // under FLock
};

}  // namespace morvane::test
