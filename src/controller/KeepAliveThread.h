#pragma once
// Writes the hub keep-alive for the controller. The keep-alive timer ticks on the GUI thread,
// but a write first pauses 20 ms before it purges the line: the tick only wakes this thread,
// so that the window is never held for the write.

#include <condition_variable>
#include <mutex>

#include "platform/Thread.h"

namespace morvane {

class TFocusControl;

class TKeepAliveThread : public TThread {
 public:
  explicit TKeepAliveThread(TFocusControl& controller);
  // Stops and joins: a write already under way finishes first.
  ~TKeepAliveThread() override;

  // Asks for one keep-alive; never waits. Wakes that come while a write is being made are
  // merged into one more write.
  void Wake();
  // Ends the thread, cutting its pause short, and returns once it has ended.
  void Stop();

 protected:
  void Execute() override;

 private:
  TFocusControl& Controller;
  std::mutex FLock;  // held only to change or test the two flags, never across a write
  std::condition_variable FChanged;
  bool FWoken = false;
  bool FStopping = false;
};

}  // namespace morvane
