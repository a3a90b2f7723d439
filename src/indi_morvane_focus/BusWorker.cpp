#include "indi_morvane_focus/BusWorker.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <utility>

namespace morvane {

TBusWorker::TBusWorker(int callTimeoutMs)
    : FWake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      FThread(&TBusWorker::Work, this, callTimeoutMs) {}

TBusWorker::~TBusWorker() {
  {
    std::lock_guard lock(FLock);
    FStopping = true;
  }
  FPosted.notify_one();
  FThread.join();
  if (FWake >= 0) close(FWake);
}

void TBusWorker::Post(TCall call, TDone done) {
  {
    std::lock_guard lock(FLock);
    FCalls.emplace_back(std::move(call), std::move(done));
  }
  FPosted.notify_one();
}

std::vector<std::function<void()>> TBusWorker::Take() {
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t read = ::read(FWake, &count, sizeof count);
  std::lock_guard lock(FLock);
  return std::exchange(FResults, {});
}

void TBusWorker::Work(int callTimeoutMs) {
  TFocuserClient client;
  client.CallTimeoutMs = callTimeoutMs;
  for (;;) {
    std::pair<TCall, TDone> next;
    {
      std::unique_lock lock(FLock);
      FPosted.wait(lock, [this] { return FStopping || !FCalls.empty(); });
      if (FCalls.empty()) return;  // stopping, with every posted call made
      next = std::move(FCalls.front());
      FCalls.pop_front();
    }
    const TBusReply reply = next.first(client);
    {
      std::lock_guard lock(FLock);
      FResults.push_back([done = std::move(next.second), reply] {
        if (done) done(reply);
      });
    }
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(FWake, &one, sizeof one);
  }
}

}  // namespace morvane
