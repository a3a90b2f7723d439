#include "motion/MoveItThread.h"

#include "controller/Objects.h"
#include "platform/Signals.h"

namespace morvane {

TMoveItThread::TMoveItThread(TFocusControl& controller, bool up)
    : TThread("mrv-moveit", TThreadPriority::tpNormal), Up(up), Controller(controller) {
  Start();
}

void TMoveItThread::ShowMessageText() {
  Controller.Synchronize(MessageText);
}

void TMoveItThread::Execute() {
  TFocusControl& c = Controller;
  // A cancel while this thread waits means the run must not start at all.
  auto cancelled = [&c, this] { return c.EndMoveCancel.load() || Terminated(); };
  c.SendFocusCommand(":FQ#");
  TCameraControl* camera = c.CameraControl.load();
  if (c.SBIGInterlock.load() && !(camera && camera->State())) {
    c.RunIdle.store(false);
    c.DoIdleChange();
    TWaitResult r = WaitForEvent(FocuserWaitEvent(), c.Timeouts.InterlockWaitMs, cancelled);
    if (r != TWaitResult::wrSignaled && !cancelled()) {
      MessageText = r == TWaitResult::wrTimeout     ? "Time out during focuser movement"
                    : r == TWaitResult::wrAbandoned ? "Abandoned event during focuser movement"
                                                    : "An error occurred during focuser movement";
      ShowMessageText();
    }
  }
  c.SetLastDirection(Up);
  for (;;) {
    const uint32_t seen = c.MotionSignal.load(std::memory_order_acquire);
    if (cancelled()) return;
    if (!c.InterruptsOff()) break;
    c.MotionSignal.wait(seen, std::memory_order_acquire);
  }
  // A pause begun since is caught here; the end-move thread drives the run once it ends.
  c.SendMoveDrive(Up, c.EndMoveCancel);
}

}  // namespace morvane
