#include "controller/KeepAliveThread.h"

#include <chrono>

#include "controller/Objects.h"

namespace morvane {

namespace {
// The pause every write makes before it purges the line.
constexpr auto PauseBeforePurge = std::chrono::milliseconds(20);
}  // namespace

TKeepAliveThread::TKeepAliveThread(TFocusControl& controller)
    : TThread("keep-alive"), Controller(controller) {
  Start();
}

TKeepAliveThread::~TKeepAliveThread() {
  Stop();
}

void TKeepAliveThread::Wake() {
  {
    std::lock_guard lock(FLock);
    FWoken = true;
  }
  FChanged.notify_one();
}

void TKeepAliveThread::Stop() {
  {
    std::lock_guard lock(FLock);
    FStopping = true;
  }
  FChanged.notify_one();
  WaitFor();
}

void TKeepAliveThread::Execute() {
  std::unique_lock lock(FLock);
  for (;;) {
    FChanged.wait(lock, [this] { return FWoken || FStopping; });
    if (FStopping) return;
    FWoken = false;
    if (FChanged.wait_for(lock, PauseBeforePurge, [this] { return FStopping; })) return;
    lock.unlock();
    Controller.WriteKeepAlive();
    lock.lock();
  }
}

}  // namespace morvane
