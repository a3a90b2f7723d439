#pragma once
// The stall guard's thread: sleeps while the motor has no drive, and otherwise until the
// time TStallRule names, then asks the rule again; on a stall the controller stops the motor
// and ends whatever drove it (TFocusControl::StopStalled). It only waits and asks: every
// decision is the rule's.

#include <condition_variable>
#include <mutex>

#include "platform/Thread.h"

namespace morvane {

class TFocusControl;

class TStallWatchThread : public TThread {
 public:
  explicit TStallWatchThread(TFocusControl& controller);
  // Stops and joins.
  ~TStallWatchThread() override;

  // The drive or the pause changed: look again now. Never waits.
  void Wake();
  // Ends the thread and returns once it has ended.
  void Stop();

 protected:
  void Execute() override;

 private:
  TFocusControl& Controller;
  std::mutex FLock;  // held only to change or test the two flags
  std::condition_variable FChanged;
  bool FWoken = false;
  bool FStopping = false;
};

}  // namespace morvane
