#include <algorithm>
#include <cstdlib>
#include <limits>

#include "controller/Objects.h"
#include "motion/ApproachRule.h"
#include "motion/EndMoveThread.h"
#include "motion/MoveItThread.h"
#include "motion/NudgeThread.h"
#include "platform/Signals.h"

namespace morvane {

namespace {

// Other programs send any 32-bit value: a target beyond the count's range is the range's end.
int32_t Clamp32(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

}  // namespace

// Starts the move waiting to supersede a running one, once the running one has finished its
// own closing steps (stop commands). Until then the controller stays busy: the superseded
// move reports no idle change and sets no "GENERAL_DELAY_EVENT"; the waiting move, or a
// cancel, does. Requests that come meanwhile replace the waiting target: one starter at most
// waits, however many requests arrive.
class TMoveStarterThread : public TThread {
 public:
  TMoveStarterThread(TFocusControl& controller, std::vector<std::shared_ptr<TThread>> previous,
                     uint64_t serial)
      : TThread("mrv-starter", TThreadPriority::tpNormal),
        Controller(controller),
        Previous(std::move(previous)),
        Serial(serial) {
    Start();
  }

 protected:
  void Execute() override {
    constexpr unsigned TerminateCheckMs = 50;  // how late a terminate request may be noticed
    for (auto& t : Previous)
      while (!t->WaitFinished(TerminateCheckMs) && !Terminated()) {
      }
    Previous.clear();
    TFocusControl& c = Controller;
    std::lock_guard lock(c.FMoveLock);
    if (Terminated() || c.LifeState() == TLifeState::lsDismantling) return;
    // A cancel dropped this starter's move and a later request made a starter of its own.
    if (c.FStarterSerial != Serial) return;
    if (c.FSuccessorPending) {
      c.FSuccessorPending = false;
      c.StartApproach(c.FPendingTarget);
      return;
    }
    // Cancelled while waiting: the move ends here, and this thread owes its report.
    c.FinishMove();
  }

 private:
  TFocusControl& Controller;
  std::vector<std::shared_ptr<TThread>> Previous;
  const uint64_t Serial;
};

void TFocusControl::MoveBy(int32_t Codes) {
  MoveToTarget(int64_t{FCTSCount.load()} + Codes);
}

void TFocusControl::MoveTo(int32_t Target) {
  MoveToTarget(Target);
}

void TFocusControl::MoveToTarget(int64_t target) {
  // The window and the bus refuse such a move with a message before it comes here; a
  // broadcast's or a compensation's is dropped, and whatever runs goes on.
  if (const std::string refused = LimitRefusal(target); !refused.empty()) {
    LogLine(refused);
    return;
  }
  // Find Travel owns the motor until it has ended; Stop ends it.
  if (FTravelSearch.load()) return;
  const int32_t Target = Clamp32(target);
  std::lock_guard lock(FMoveLock);
  // The move is not finished from the moment it is asked for.
  GeneralDelayEvent().ResetEvent();
  ClearLastFault();
  // A coarse run still driving would carry the motor on under the nudges: the move takes
  // the motor from it.
  if (FCoarseDrive.exchange(false)) {
    SendFocusCommand(":FQ#");
    SendFocusCommand(":FQ#");
  }
  FThreads.Reap();
  std::vector<std::shared_ptr<TThread>> running = FThreads.Running();
  // Called from a motion thread's idle handler: that thread is about to end by itself.
  std::erase_if(running,
                [](const std::shared_ptr<TThread>& t) { return t.get() == TThread::Current(); });
  if (running.empty() && !FSuccessorPending) {
    StartApproach(Target);
    return;
  }
  SupersedeMove(Target, std::move(running));
}

void TFocusControl::SupersedeMove(int32_t Target, std::vector<std::shared_ptr<TThread>> running) {
  // Another program may send a move at any time: the running move is stopped and closes
  // itself down first, so that two moves never drive the motor at once. The controller stays
  // busy throughout.
  {
    std::lock_guard drive(FDriveLock);
    EndMoveCancel.store(true);
    NudgeCancel.store(true);
  }
  FPendingTarget = Target;
  // The superseding move supersedes both legs of a compensated one.
  FFinalLegPending = false;
  FMoveActive = true;
  NudgeIdle.store(false);
  ReleaseSuspendedThreads();
  SignalMotion();
  // The starter already waiting takes the newest target.
  if (FSuccessorPending) return;
  FSuccessorPending = true;
  KeepMotionThread(
      std::make_shared<TMoveStarterThread>(*this, std::move(running), ++FStarterSerial));
}

// A move under way keeps its goal: it is stopped where it is and the rest of its way is moved
// again from the new zero, so that a reset never carries the motor further than asked (the
// run's stop point and the nudges' target were counts from the old zero). The controller
// stays busy throughout, as for any superseding move.
void TFocusControl::ResetCount() {
  std::lock_guard lock(FMoveLock);
  GeneralDelayEvent().ResetEvent();
  // Only a move still wanted is re-aimed: after a Stop its threads may still be winding
  // down, and re-aiming would start the rest of the stopped move.
  const bool moving =
      (FMoveActive || FSuccessorPending) && !FCancelMovementFlag.load() && !TThread::Current();
  if (!moving) {
    FCTSCount.store(0);
    SignalMotion();
    DoCTSChange(0, false);
    return;
  }
  const int32_t goal = FSuccessorPending  ? FPendingTarget
                       : FFinalLegPending ? FFinalTarget
                                          : FMoveTarget;
  {
    // Stopped before the count changes under its threads' feet.
    std::lock_guard drive(FDriveLock);
    EndMoveCancel.store(true);
    NudgeCancel.store(true);
  }
  const int32_t was = FCTSCount.exchange(0);
  SignalMotion();
  DoCTSChange(0, false);
  FThreads.Reap();
  SupersedeMove(Clamp32(int64_t{goal} - was), FThreads.Running());
}

bool TFocusControl::SyncCount(int32_t Value) {
  std::lock_guard lock(FMoveLock);
  if (FMoveActive || FSuccessorPending || FFinalLegPending || FCoarseDrive.load() ||
      !FThreads.Running().empty())
    return false;
  FCTSCount.store(Value);
  SignalMotion();
  DoCTSChange(Value, false);
  return true;
}

void TFocusControl::KeepMotionThread(std::shared_ptr<TThread> thread) {
  FThreads.Add(std::move(thread));
}

void TFocusControl::KeepNudgeThread(std::shared_ptr<TThread> thread) {
  {
    std::lock_guard lock(FMotionRefsLock);
    NudgeThread = thread;
  }
  KeepMotionThread(std::move(thread));
}

void TFocusControl::StartApproach(int32_t Target) {
  const int32_t count = FCTSCount.load();
  const TApproachPlan plan = TApproachRule::FromSettings(ApproachMode.load(), ApproachCodes.load())
                                 .Plan(count, Target, TravelLimits());
  FFinalLegPending = plan.TwoLegs && FPortHandle.load();
  FFinalTarget = Target;
  if (FFinalLegPending) {
    StartMoveTo(plan.FirstTarget, plan.FirstTarget > count);
    return;
  }
  StartMoveTo(Target, Target > count);
}

void TFocusControl::StartMoveTo(int32_t Target, bool up) {
  if (LifeState() == TLifeState::lsDismantling) return;
  GeneralDelayEvent().ResetEvent();
  FMoveTarget = Target;
  RunUp.store(up);
  const int32_t stopFactor = FStopFactor.load();
  const int64_t offset = up ? -int64_t{stopFactor} : int64_t{stopFactor};
  const int32_t count = FCTSCount.load();
  // Nothing is left to do: the move ends here. A move that superseded another reports the
  // end of the busy time that began with the first.
  auto nothingLeft = [this] {
    if (FMoveActive) {
      FMoveActive = false;
      NudgeIdle.store(true);
      DoIdleChange();
    }
    GeneralDelayEvent().SetEvent();
  };
  // Without a port no count comes: a run would wait for its stop point for ever.
  if (!FPortHandle.load()) {
    nothingLeft();
    return;
  }
  if (std::abs(int64_t{count} - Target) >= int64_t{stopFactor} + 2) {
    KeepMotionThread(std::make_shared<TEndMoveThread>(*this, Clamp32(int64_t{Target} + offset)));
    if (JMIFlag.load()) {
      KeepMotionThread(std::make_shared<TMoveItThread>(*this, up));
    } else {
      StartRun(up);
    }
    if (FCTSCount.load() == Target) {
      nothingLeft();
      return;
    }
    FMoveActive = true;
    KeepNudgeThread(std::make_shared<TNudgeThread>(*this, Target, false));
    return;
  }
  if (count == Target) {
    nothingLeft();
    return;
  }
  FMoveActive = true;
  KeepNudgeThread(std::make_shared<TNudgeThread>(*this, Target, true));
}

void TFocusControl::FinishMove(bool failed) {
  std::lock_guard lock(FMoveLock);
  if (FSuccessorPending) return;
  if (FFinalLegPending) {
    FFinalLegPending = false;
    // The last leg of a compensated move: still the same move, busy throughout.
    if (!failed && LifeState() != TLifeState::lsDismantling) {
      FThreads.Reap();
      StartMoveTo(FFinalTarget, FFinalTarget > FCTSCount.load());
      return;
    }
  }
  FMoveActive = false;
  NudgeIdle.store(true);
  DoIdleChange();
  // An idle handler may have started the next move.
  if (!FSuccessorPending && !FMoveActive) GeneralDelayEvent().SetEvent();
}

TFocusControl::TNudgeResponse TFocusControl::NudgeResponse(bool direct, bool dual) {
  std::lock_guard lock(FNudgeResponseLock);
  return FNudgeResponse[int{direct} + 2 * int{dual}];
}

void TFocusControl::SetNudgeResponse(bool direct, bool dual, const TNudgeResponse& response) {
  std::lock_guard lock(FNudgeResponseLock);
  FNudgeResponse[int{direct} + 2 * int{dual}] = response;
}

bool TFocusControl::MovementRunning() {
  std::lock_guard lock(FMoveLock);
  return FSuccessorPending || !FThreads.Running().empty();
}

void TFocusControl::ReleaseSuspendedThreads() {
  for (auto& t : FThreads.Running())
    while (t->SuspendCount() > 0) t->Resume();
}

void TFocusControl::CancelMovementAndWait() {
  std::vector<std::shared_ptr<TThread>> running;
  {
    std::lock_guard lock(FMoveLock);
    running = FThreads.Running();
    if (running.empty() && !FSuccessorPending) return;
    SetCancelMovementFlag(true);
  }
  if (TThread::Current()) return;
  // Every wait of a cancelled move ends within a pass; the bound only keeps the GUI alive
  // should a thread hang in the system.
  constexpr int64_t BoundUs = 10'000'000;
  const int64_t end = MonotonicMicros() + BoundUs;
  for (auto& t : running) {
    const int64_t left = end - MonotonicMicros();
    if (left <= 0) break;
    t->WaitFinished(static_cast<unsigned>((left + 999) / 1000));
  }
}

bool TFocusControl::SendMoveDrive(bool up, const std::atomic<bool>& cancel, bool pauseToo) {
  std::lock_guard lock(FDriveLock);
  if (cancel.load() || (pauseToo && FInterruptsOff.load())) return false;
  const bool lineDown = up == FReverseDir.load();  // the line sees ":F+#"
  if (lineDown && FUseRTS_DTR.load() && !NudgeIdle.load()) SetLine(CLRDTR);
  SendFocusCommand(up ? ":F-#" : ":F+#");
  return true;
}

}  // namespace morvane
