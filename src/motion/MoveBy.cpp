#include <cstdlib>

#include "controller/Objects.h"
#include "motion/EndMoveThread.h"
#include "motion/MoveItThread.h"
#include "motion/NudgeThread.h"
#include "motion/Signals.h"

namespace morvane {

// Starts a move that superseded a running one, once the running one has finished its own
// closing steps (stop commands, idle, "GENERAL_DELAY_EVENT").
class TMoveStarterThread : public TThread {
 public:
  TMoveStarterThread(TFocusControl& controller, std::vector<std::shared_ptr<TThread>> previous,
                     int32_t target, int32_t delta, uint32_t generation)
      : TThread("mrv-starter", TThreadPriority::tpNormal), Controller(controller), Previous(std::move(previous)),
        Target(target), Delta(delta), Generation(generation) {
    Start();
  }

 protected:
  void Execute() override {
    constexpr uint32_t PollMs = 5;
    for (auto& t : Previous)
      while (!t->Finished() && !Terminated()) Sleep(PollMs);
    Previous.clear();
    // A later MoveBy superseded this one before it started: that one starts instead.
    if (Terminated() || Controller.FMoveGeneration.load() != Generation) return;
    Controller.StartMoveTo(Target, Delta);
  }

 private:
  TFocusControl& Controller;
  std::vector<std::shared_ptr<TThread>> Previous;
  const int32_t Target;
  const int32_t Delta;
  const uint32_t Generation;
};

void TFocusControl::MoveBy(int32_t Codes) {
  FThreads.Reap();
  const uint32_t generation = FMoveGeneration.fetch_add(1) + 1;
  std::vector<std::shared_ptr<TThread>> running;
  {
    std::lock_guard lock(FMotionRefsLock);
    for (std::shared_ptr<TThread> t :
         {std::shared_ptr<TThread>(EndMoveThread), std::shared_ptr<TThread>(NudgeThread),
          std::shared_ptr<TThread>(MoveItThread), std::shared_ptr<TThread>(FStarterThread)})
      if (t && !t->Finished()) running.push_back(std::move(t));
  }
  if (running.empty()) {
    StartMoveTo(FCTSCount.load() + Codes, Codes);
    return;
  }
  // Another program may send a move at any time: the running move is cancelled and closes
  // itself down first, so that two moves never drive the motor at once.
  const int32_t target = FCTSCount.load() + Codes;
  CancelMovement();
  KeepMotionThread(FStarterThread,
                   std::shared_ptr<TThread>(std::make_shared<TMoveStarterThread>(
                       *this, std::move(running), target, Codes, generation)));
}

template <typename T>
void TFocusControl::KeepMotionThread(std::shared_ptr<T>& reference, std::shared_ptr<T> thread) {
  {
    std::lock_guard lock(FMotionRefsLock);
    reference = thread;
  }
  FThreads.Add(std::move(thread));
}

void TFocusControl::MoveTo(int32_t Target) { MoveBy(Target - FCTSCount.load()); }

void TFocusControl::StartMoveTo(int32_t Target, int32_t Delta) {
  if (FDestroying.load()) return;
  GeneralDelayEvent().ResetEvent();
  RunUp.store(Delta > 0);
  const int32_t stopFactor = FStopFactor.load();
  const int32_t offset = Delta < 0 ? stopFactor : -stopFactor;
  const int32_t count = FCTSCount.load();
  if (std::abs(int64_t{count} - Target) >= int64_t{stopFactor} + 2) {
    KeepMotionThread(EndMoveThread, std::make_shared<TEndMoveThread>(*this, Target + offset));
    if (JMIFlag.load()) {
      KeepMotionThread(MoveItThread, std::make_shared<TMoveItThread>(*this, Delta > 0));
    } else {
      StartMove(Delta > 0, 0);
    }
    if (FCTSCount.load() == Target) {
      GeneralDelayEvent().SetEvent();
      return;
    }
    KeepMotionThread(NudgeThread, std::make_shared<TNudgeThread>(*this, Target, false));
    return;
  }
  if (count == Target) {
    GeneralDelayEvent().SetEvent();
    return;
  }
  KeepMotionThread(NudgeThread, std::make_shared<TNudgeThread>(*this, Target, true));
}

}  // namespace morvane
