#pragma once
// What the controller and its worker threads need of the GUI thread. The Qt side implements
// it on the event loop; tests fake it.

#include <functional>
#include <string>

namespace morvane {

class TControllerHost {
 public:
  virtual ~TControllerHost() = default;

  // Shows a modal message box; called on the GUI thread, returns when it is closed.
  virtual void ShowMessage(const std::string& text) = 0;

  // Queues fn to run on the GUI thread, after everything queued before it. Callable from any
  // thread; never waits.
  virtual void Post(std::function<void()> fn) = 0;

  // Starts a periodic timer whose ticks run on the GUI thread (interval in ms). The returned
  // id stops it; the controller stops its timer before it goes away.
  virtual int StartTimer(int intervalMs, std::function<void()> tick) = 0;
  virtual void StopTimer(int id) = 0;
};

}  // namespace morvane
