#include "platform/Thread.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace morvane {

TThread::TThread(const char* name, TThreadPriority priority) : FName(name), FPriority(priority) {}

namespace {
thread_local TThread* tCurrent = nullptr;
}

TThread::~TThread() {
  WaitFor();
}

TThread* TThread::Current() {
  return tCurrent;
}

void TThread::Start() {
  FHandle = std::thread(&TThread::Run, this);
}

void TThread::Run() {
  tCurrent = this;
  pthread_setname_np(pthread_self(), FName);
  SetCurrentThreadPriority(FPriority);
  Execute();
  std::lock_guard lock(FFinishLock);
  FFinished.store(true, std::memory_order_release);
  FFinishedChanged.notify_all();
}

bool TThread::WaitFinished(unsigned timeoutMs) {
  std::unique_lock lock(FFinishLock);
  return FFinishedChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [this] { return Finished(); });
}

void TThread::WaitFor() {
  std::lock_guard lock(FJoinLock);
  if (FHandle.joinable()) FHandle.join();
}

void TThread::Suspend() {
  std::lock_guard lock(FSuspendLock);
  FSuspendCount.fetch_add(1);
}

void TThread::Resume() {
  std::lock_guard lock(FSuspendLock);
  if (FSuspendCount.load() > 0 && FSuspendCount.fetch_sub(1) == 1) FResumed.notify_all();
}

void TThread::CheckSuspended() {
  if (FSuspendCount.load() == 0) return;
  std::unique_lock lock(FSuspendLock);
  FResumed.wait(lock, [this] { return FSuspendCount.load() == 0; });
}

TWaitResult TThread::WaitForEvent(TEvent& event, unsigned timeoutMs,
                                  const std::function<bool()>& giveUp) {
  constexpr unsigned SliceMs = 50;  // how late a terminate request may be noticed
  const int64_t deadline = MonotonicMicros() + int64_t{timeoutMs} * 1000;
  for (;;) {
    const int64_t left = (deadline - MonotonicMicros() + 999) / 1000;
    if (left <= 0) return TWaitResult::wrTimeout;
    TWaitResult r = event.WaitFor(static_cast<unsigned>(std::min<int64_t>(left, SliceMs)));
    if (r != TWaitResult::wrTimeout) return r;
    if (Terminated() || (giveUp && giveUp())) return TWaitResult::wrTimeout;
  }
}

void TThreadKeeper::TerminateAll() {
  std::lock_guard lock(FLock);
  for (auto& t : FThreads) {
    t->Terminate();
    while (t->SuspendCount() > 0) t->Resume();
  }
}

void TThreadKeeper::Add(std::shared_ptr<TThread> thread) {
  Reap();
  std::lock_guard lock(FLock);
  FThreads.push_back(std::move(thread));
}

void TThreadKeeper::Reap() {
  std::vector<std::shared_ptr<TThread>> done;
  {
    std::lock_guard lock(FLock);
    for (auto it = FThreads.begin(); it != FThreads.end();) {
      if ((*it)->Finished()) {
        done.push_back(std::move(*it));
        it = FThreads.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& t : done) t->WaitFor();
}

void TThreadKeeper::JoinAll() {
  std::list<std::shared_ptr<TThread>> all;
  {
    std::lock_guard lock(FLock);
    all.swap(FThreads);
  }
  for (auto& t : all) t->WaitFor();
}

std::vector<std::shared_ptr<TThread>> TThreadKeeper::Running() {
  std::vector<std::shared_ptr<TThread>> running;
  std::lock_guard lock(FLock);
  for (auto& t : FThreads)
    if (!t->Finished()) running.push_back(t);
  return running;
}

bool TThreadKeeper::AnyRunning() {
  std::lock_guard lock(FLock);
  for (auto& t : FThreads)
    if (!t->Finished()) return true;
  return false;
}

}  // namespace morvane
