#pragma once
// A worker thread in the style of the controller's thread classes: it starts at once, runs
// Execute once and is never waited for by whoever started it. What "frees itself" means here:
// the thread's object is kept by a TThreadKeeper, which joins finished threads when new ones
// arrive and joins all of them when its owner goes away, so no thread outlives what it
// touches.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Event.h"
#include "platform/Timing.h"

namespace morvane {

class TThread {
 public:
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Asks Execute to end; Execute polls Terminated.
  void Terminate() { FTerminated.store(true); }
  bool Terminated() const { return FTerminated.load(); }
  bool Finished() const { return FFinished.load(std::memory_order_acquire); }

  // Cooperative suspension: the thread stops at its next CheckSuspended until resumed as
  // many times as it was suspended. Safe on a thread that has finished.
  void Suspend();
  void Resume();
  int SuspendCount() const { return FSuspendCount.load(); }

  void WaitFor();  // joins; not from the thread itself; safe from several threads at once
  // Waits up to timeoutMs for Execute to have returned, without joining (the keeper joins);
  // true once it has. Woken by the end itself, not by polling.
  bool WaitFinished(unsigned timeoutMs);

  // The TThread whose Execute runs on the calling thread; nullptr on any other thread.
  static TThread* Current();

 protected:
  // name: up to 15 characters, shown by the system's tools and read by the benchmark.
  explicit TThread(const char* name, TThreadPriority priority = TThreadPriority::tpNormal);
  // Starts the thread; derived constructors call it last, once every input is stored.
  void Start();
  virtual void Execute() = 0;
  // Blocks while suspended. Called before each action that sends or changes anything.
  void CheckSuspended();
  // Waits on event for at most timeoutMs, in short slices so that a terminate request or
  // giveUp() ends the wait early (then wrTimeout).
  TWaitResult WaitForEvent(TEvent& event, unsigned timeoutMs,
                           const std::function<bool()>& giveUp = {});

 private:
  void Run();

  const char* FName;
  TThreadPriority FPriority;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
  std::atomic<int> FSuspendCount{0};
  std::mutex FSuspendLock;
  std::condition_variable FResumed;
  std::mutex FFinishLock;
  std::condition_variable FFinishedChanged;
  std::mutex FJoinLock;  // one joiner at a time
  std::thread FHandle;
};

// Owns self-freeing threads; thread-safe.
class TThreadKeeper {
 public:
  ~TThreadKeeper() { JoinAll(); }

  void Add(std::shared_ptr<TThread> thread);
  // Joins every thread that has finished and drops it.
  void Reap();
  // Joins every thread; the caller has asked them to end first.
  void JoinAll();
  // Asks every kept thread to end and lifts every suspension.
  void TerminateAll();
  // True while any kept thread is still running.
  bool AnyRunning();
  // The kept threads that are still running.
  std::vector<std::shared_ptr<TThread>> Running();

 private:
  std::mutex FLock;
  std::list<std::shared_ptr<TThread>> FThreads;
};

}  // namespace morvane
