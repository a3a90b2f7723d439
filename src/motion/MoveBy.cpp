#include <algorithm>
#include <cstdlib>
#include <limits>

#include "controller/Objects.h"
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

// Starts a move that superseded a running one, once the running one has finished its own
// closing steps (stop commands). Until then the controller stays busy: the superseded move
// reports no idle change and sets no "GENERAL_DELAY_EVENT"; this move, or a cancel, does.
class TMoveStarterThread : public TThread {
 public:
  TMoveStarterThread(TFocusControl& controller, std::vector<std::shared_ptr<TThread>> previous,
                     int32_t target, uint32_t generation)
      : TThread("mrv-starter", TThreadPriority::tpNormal), Controller(controller),
        Previous(std::move(previous)), Target(target), Generation(generation) {
    Start();
  }

 protected:
  void Execute() override {
    constexpr uint32_t PollMs = 2;
    for (auto& t : Previous)
      while (!t->Finished() && !Terminated()) Sleep(PollMs);
    Previous.clear();
    TFocusControl& c = Controller;
    std::lock_guard lock(c.FMoveLock);
    if (Terminated() || c.FDestroying.load()) return;
    if (c.FMoveGeneration.load() == Generation) {
      c.FSuccessorPending = false;
      c.StartMoveTo(Target, Target > c.CTSCount());
      return;
    }
    // A later MoveBy superseded this one before it started: that one starts instead.
    if (c.FSuccessorPending) return;
    // Cancelled while waiting: the move ends here, and this thread owes its report.
    c.FinishMove();
  }

 private:
  TFocusControl& Controller;
  std::vector<std::shared_ptr<TThread>> Previous;
  const int32_t Target;
  const uint32_t Generation;
};

void TFocusControl::MoveBy(int32_t Codes) { MoveToTarget(int64_t{FCTSCount.load()} + Codes); }

void TFocusControl::MoveTo(int32_t Target) { MoveToTarget(Target); }

void TFocusControl::MoveToTarget(int64_t target) {
  const int32_t Target = Clamp32(target);
  std::lock_guard lock(FMoveLock);
  // The move is not finished from the moment it is asked for.
  GeneralDelayEvent().ResetEvent();
  // A coarse run still driving would carry the motor on under the nudges: the move takes
  // the motor from it.
  if (FCoarseDrive.exchange(false)) {
    SendFocusCommand(":FQ#");
    SendFocusCommand(":FQ#");
  }
  FThreads.Reap();
  const uint32_t generation = FMoveGeneration.fetch_add(1) + 1;
  std::vector<std::shared_ptr<TThread>> running = FThreads.Running();
  // Called from a motion thread's idle handler: that thread is about to end by itself.
  std::erase_if(running, [](const std::shared_ptr<TThread>& t) { return t.get() == TThread::Current(); });
  if (running.empty() && !FSuccessorPending) {
    StartMoveTo(Target, Target > FCTSCount.load());
    return;
  }
  // Another program may send a move at any time: the running move is stopped and closes
  // itself down first, so that two moves never drive the motor at once. The controller stays
  // busy throughout.
  {
    std::lock_guard drive(FDriveLock);
    EndMoveCancel.store(true);
    NudgeCancel.store(true);
  }
  FSuccessorPending = true;
  FMoveActive = true;
  NudgeIdle.store(false);
  ReleaseSuspendedThreads();
  SignalMotion();
  KeepMotionThread(FStarterThread, std::shared_ptr<TThread>(std::make_shared<TMoveStarterThread>(
                                       *this, std::move(running), Target, generation)));
}

template <typename T>
void TFocusControl::KeepMotionThread(std::shared_ptr<T>& reference, std::shared_ptr<T> thread) {
  {
    std::lock_guard lock(FMotionRefsLock);
    reference = thread;
  }
  FThreads.Add(std::move(thread));
}

void TFocusControl::StartMoveTo(int32_t Target, bool up) {
  if (FDestroying.load()) return;
  GeneralDelayEvent().ResetEvent();
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
    KeepMotionThread(EndMoveThread,
                     std::make_shared<TEndMoveThread>(*this, Clamp32(int64_t{Target} + offset)));
    if (JMIFlag.load()) {
      KeepMotionThread(MoveItThread, std::make_shared<TMoveItThread>(*this, up));
    } else {
      StartRun(up);
    }
    if (FCTSCount.load() == Target) {
      nothingLeft();
      return;
    }
    FMoveActive = true;
    KeepMotionThread(NudgeThread, std::shared_ptr<TThread>(
                                      std::make_shared<TNudgeThread>(*this, Target, false)));
    return;
  }
  if (count == Target) {
    nothingLeft();
    return;
  }
  FMoveActive = true;
  KeepMotionThread(NudgeThread,
                   std::shared_ptr<TThread>(std::make_shared<TNudgeThread>(*this, Target, true)));
}

void TFocusControl::FinishMove() {
  std::lock_guard lock(FMoveLock);
  if (FSuccessorPending) return;
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
  // A thread waiting for its message box to be closed would wait for the caller, often the
  // GUI thread itself: it goes on at once, and the box still shows.
  ReleaseSynchronizeWaits();
  if (TThread::Current()) return;
  // Every wait of a cancelled move ends within a pass; the bound only keeps the GUI alive
  // should a thread hang in the system.
  constexpr int64_t BoundUs = 10'000'000;
  const int64_t end = MonotonicMicros() + BoundUs;
  for (auto& t : running)
    while (!t->Finished() && MonotonicMicros() < end) Sleep(2);
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
