#include "motion/EndMoveThread.h"

#include "controller/Objects.h"

namespace morvane {

namespace {
constexpr uint32_t StopSettleMs = 100;  // lets the stopped run coast out before the hand-over
}

TEndMoveThread::TEndMoveThread(TFocusControl& controller, int32_t stopPoint)
    : TThread("mrv-endmove", TThreadPriority::tpNormal),
      StopPoint(stopPoint),
      Controller(controller) {
  Controller.EndMoveCancel.store(false);
  // Before the thread runs: the nudge thread waits for the hand-over from the moment it is
  // made, and the move is busy from its first command.
  Controller.CTSEvent().ResetEvent();
  Controller.RunIdle.store(false);
  Controller.DoIdleChange();
  Start();
}

void TEndMoveThread::Execute() {
  TFocusControl& c = Controller;
  // The direction of approach is fixed once, from where the run starts.
  const bool downwards = StopPoint < c.CTSCount();
  auto reached = [&] {
    const int32_t count = c.CTSCount();
    return downwards ? count <= StopPoint : count >= StopPoint;
  };
  while (!Terminated()) {
    // Taken before the tests, so that a change made during them ends the wait at once: the
    // stop goes out on the first pass after the count reaches the stop point, without this
    // thread spinning beside the counting thread.
    const uint32_t seen = c.MotionSignal.load(std::memory_order_acquire);
    if (reached()) {
      c.SendFocusCommand(":FQ#");
      c.SendFocusCommand(":FQ#");
      Sleep(StopSettleMs);
      c.CTSEvent().SetEvent();
      Terminate();
    }
    // A closed port brings no more edges: the run is over.
    if (c.EndMoveCancel.load() || !c.Port()) {
      c.SendFocusCommand(":FQ#");
      c.SendFocusCommand(":FQ#");
      c.CTSEvent().SetEvent();
      Terminate();
    }
    if (!c.InterruptsOff() && c.Paused.load() && !Terminated()) {
      // Resume after a pause: repeat the run command on every pass until the count moves.
      const int32_t noted = c.CTSCount();
      c.SendMoveDrive(c.RunUp.load(), c.EndMoveCancel);
      if (c.CTSCount() != noted) c.Paused.store(false);
      continue;
    }
    if (!Terminated()) c.MotionSignal.wait(seen, std::memory_order_acquire);
  }
  c.RunIdle.store(true);
  c.DoIdleChange();
}

}  // namespace morvane
