#pragma once
// The controller's host on Qt's event loop: modal messages, calls queued to the GUI thread
// and the GUI timers. Made on the GUI thread, which it then serves.

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "controller/ControllerHost.h"
#include "host/ExceptionBoundary.h"

class QTimer;

namespace morvane {

class TQtControllerHost : public TControllerHost {
 public:
  TQtControllerHost();
  ~TQtControllerHost() override;
  TQtControllerHost(const TQtControllerHost&) = delete;
  TQtControllerHost& operator=(const TQtControllerHost&) = delete;

  // A QMessageBox captioned "Morvane", one OK button, no icon. Called from another thread, it
  // is queued to the GUI thread and returns at once.
  void ShowMessage(const std::string& text) override;
  // Unattended (off by default): no box waits for a click; each message goes to standard
  // error as "Morvane: <text>" instead. For runs with nobody at the screen.
  // (A switch of the whole run: the exception boundary and the voice follow it too.)
  void SetUnattended(bool on) { SetUnattendedRun(on); }
  bool Unattended() const { return UnattendedRun(); }
  // Queued as an event to the GUI thread: calls from one thread run in the order posted, and
  // posting takes only the event queue's short lock, whatever the GUI thread is doing. Calls
  // still queued when the host goes are dropped.
  void Post(std::function<void()> fn) override;
  // A QTimer on the GUI thread. Either call may come from any thread; StopTimer from another
  // thread waits out a tick of that timer that is running, so that the tick's owner can go
  // away once it returns; no tick starts after it.
  int StartTimer(int intervalMs, std::function<void()> tick) override;
  void StopTimer(int id) override;

 private:
  struct TTimerSlot;
  void CreateTimer(int id);
  void RunTick(int id);
  bool OnGuiThread() const;

  // Lives on the GUI thread: posted calls and timers are its children and events.
  std::unique_ptr<QObject> FReceiver;
  // Protects FTimers and the state of each slot; FChanged tells a tick's end.
  std::mutex FLock;
  std::condition_variable FChanged;
  std::map<int, std::shared_ptr<TTimerSlot>> FTimers;
  int FNextTimer = 1;
};

}  // namespace morvane
