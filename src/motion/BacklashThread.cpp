#include "motion/BacklashThread.h"

#include <algorithm>
#include <cstdio>

#include "controller/Objects.h"
#include "platform/Signals.h"

namespace morvane {

namespace {
constexpr uint32_t SliceMs = 5;  // how late a cancel may end a pulse or a pause
// The count is at rest once it has held still this long (a heavy motor coasts on after a
// pulse); the wait gives up after RestLimitUs.
constexpr int64_t RestHoldUs = 40'000;
constexpr int64_t RestLimitUs = 1'000'000;
}  // namespace

std::string BacklashReportText(const TBacklashReport& r) {
  std::string text;
  switch (r.End) {
    case TMeasureEnd::meDone:
      text = BacklashResultText(r.Result);
      break;
    case TMeasureEnd::meStopped:
      text = "The backlash measurement was stopped.";
      break;
    case TMeasureEnd::mePortClosed:
      text = "The port closed during the backlash measurement.";
      break;
    case TMeasureEnd::meNoPermit:
      text = "The camera program did not permit the backlash measurement to move the focuser.";
      break;
  }
  char where[120];
  if (r.Left == r.Start)
    std::snprintf(where, sizeof where, " The focuser is at %d, where it started.", r.Left);
  else
    std::snprintf(where, sizeof where, " The focuser was left at %d; it started at %d.", r.Left,
                  r.Start);
  return text + where;
}

TFocusControl::TMeasureRefusal TFocusControl::MeasureBacklash(bool Up, TBacklashDone Done) {
  if (!FPortHandle.load()) return TMeasureRefusal::mrPortClosed;
  if (FInterruptsOff.load()) return TMeasureRefusal::mrPaused;
  if (FCoarseDrive.load()) return TMeasureRefusal::mrCoarseRun;
  {
    // A module exchange owns the line; it is not held further, as a move does not hold it.
    std::unique_lock line(FLineLock, std::try_to_lock);
    if (!line.owns_lock()) return TMeasureRefusal::mrLineBusy;
  }
  std::lock_guard lock(FMoveLock);
  FThreads.Reap();
  if (FSuccessorPending || FMoveActive || !FThreads.Running().empty())
    return TMeasureRefusal::mrMoving;
  GeneralDelayEvent().ResetEvent();
  ClearLastFault();
  FFinalLegPending = false;
  FMoveActive = true;
  // A reset meanwhile stops the measurement and moves back to where it began.
  FMoveTarget = FCTSCount.load();
  KeepMotionThread(std::make_shared<TBacklashThread>(*this, Up, std::move(Done)));
  return TMeasureRefusal::mrNone;
}

TBacklashThread::TBacklashThread(TFocusControl& controller, bool up,
                                 std::function<void(const TBacklashReport&)> done)
    : TThread("mrv-backlash", controller.NudgePriority.load()),
      Controller(controller),
      Up(up),
      Start(controller.CTSCount()),
      Done(std::move(done)) {
  // Busy from here, as a move is from its first thread.
  Controller.NudgeCancel.store(false);
  Controller.NudgeIdle.store(false);
  Controller.DoIdleChange();
  TThread::Start();
}

bool TBacklashThread::Cancelled() const {
  return Controller.NudgeCancel.load() || Terminated();
}

void TBacklashThread::SleepUnlessCancelled(uint32_t ms) {
  const int64_t end = MonotonicMicros() + int64_t{ms} * 1000;
  for (int64_t left = end - MonotonicMicros(); left > 0 && !Cancelled();
       left = end - MonotonicMicros())
    Sleep(static_cast<uint32_t>(std::min<int64_t>((left + 999) / 1000, SliceMs)));
}

void TBacklashThread::WaitForRest(bool untilRest) {
  TFocusControl& c = Controller;
  const int64_t start = MonotonicMicros();
  int64_t lastChange = start;
  int32_t last = c.CTSCount();
  while (!Terminated() && (untilRest || !Cancelled())) {
    Sleep(SliceMs);
    const int64_t now = MonotonicMicros();
    if (const int32_t count = c.CTSCount(); count != last) {
      last = count;
      lastChange = now;
    }
    if (now - lastChange >= RestHoldUs || now - start >= RestLimitUs) return;
  }
}

bool TBacklashThread::Pulse(const TProbeStep& step, int32_t& before, int32_t& after) {
  TFocusControl& c = Controller;
  before = c.CTSCount();
  c.ClearRTS();
  // Not during a pause, and nothing once cancelled.
  const bool drove = c.SendMoveDrive(step.Up, c.NudgeCancel);
  // The nudges of the way back take up the play after the last pulse's direction.
  if (drove) c.SetLastDirection(step.Up);
  SleepUnlessCancelled(step.PulseMs);
  c.ClearRTS();
  if (!drove) return false;
  SleepUnlessCancelled(SecondsToMs(c.NudgeSleep()));
  WaitForRest();
  after = c.CTSCount();
  // A pause cuts the pulse short (it clears RTS): its count says nothing of a whole pulse.
  return !Cancelled() && !c.InterruptsOff() && !c.Paused.load();
}

void TBacklashThread::Execute() {
  TFocusControl& c = Controller;
  TBacklashReport report;
  report.Start = Start;
  TCameraControl* camera = c.CameraControl.load();
  // A camera program that must permit moves permits this one too; without its permission the
  // measurement does not move the focuser at all.
  if (c.SBIGInterlock.load() && !(camera && camera->State())) {
    const TWaitResult r = WaitForEvent(FocuserWaitEvent(), c.Timeouts.InterlockWaitMs,
                                       [this] { return Cancelled(); });
    if (r != TWaitResult::wrSignaled && !Cancelled()) report.End = TMeasureEnd::meNoPermit;
  }
  if (report.End == TMeasureEnd::meDone) {
    c.SendFocusCommand(":FS#");
    const uint32_t pulseMs = SecondsToMs(c.NudgeTime());
    TBacklashProbe probe(Up, pulseMs);
    while (!probe.Done()) {
      if (Cancelled()) {
        report.End = TMeasureEnd::meStopped;
        break;
      }
      if (!c.Port()) {
        report.End = TMeasureEnd::mePortClosed;
        break;
      }
      if (c.InterruptsOff() || c.Paused.load()) {
        Sleep(SliceMs);
        continue;
      }
      int32_t before = 0, after = 0;
      if (Pulse(probe.Next(), before, after)) {
        probe.Passed(before, after);
      } else if (!Cancelled()) {
        // A pause spoilt a pulse: the play it was taking up is unknown, so the measurement
        // begins again once the pause has ended.
        probe = TBacklashProbe(Up, pulseMs);
      }
    }
    report.Result = probe.Result();
  }
  if (report.End == TMeasureEnd::meStopped && !c.Port()) report.End = TMeasureEnd::mePortClosed;
  Close(report);
  if (c.LifeState() != TLifeState::lsDismantling && Done) Done(report);
}

void TBacklashThread::Close(TBacklashReport& report) {
  TFocusControl& c = Controller;
  c.ClearRTS();
  c.SendFocusCommand(":FQ#");
  c.SendFocusCommand(":FQ#");
  std::vector<std::shared_ptr<TThread>> back;
  bool goBack = false;
  {
    std::lock_guard lock(c.MoveLock());
    goBack = report.Found() && !Cancelled() && c.Port() &&
             c.LifeState() != TLifeState::lsDismantling && !c.SuccessorPending();
    if (goBack) {
      // The way back is a move like any other, within the same busy period: its end reports
      // idle once and sets "GENERAL_DELAY_EVENT".
      c.FThreads.Reap();
      c.StartApproach(Start);
      back = c.FThreads.Running();
      std::erase_if(back, [this](const std::shared_ptr<TThread>& t) { return t.get() == this; });
    } else if (!c.SuccessorPending()) {
      // Superseded, the move waiting reports the end of the busy period.
      c.NudgeIdle.store(true);
    }
  }
  if (!goBack) {
    // Once more now that the measurement is idle: in direct mode this clears DTR too.
    c.SendFocusCommand(":FQ#");
    c.FinishMove(true);
  }
  // With backlash compensation the way back has two legs, the second started as the first
  // ends: the report waits for every thread of the way back, not only the first leg's.
  while (!back.empty() && !Terminated()) {
    for (auto& t : back)
      while (!t->WaitFinished(50) && !Terminated()) {
      }
    std::lock_guard lock(c.MoveLock());
    back.clear();
    // A move from another program that superseded the way back is its own.
    if (c.SuccessorPending()) break;
    c.FThreads.Reap();
    back = c.FThreads.Running();
    std::erase_if(back, [this](const std::shared_ptr<TThread>& t) { return t.get() == this; });
  }
  WaitForRest(true);
  report.Left = c.CTSCount();
}

}  // namespace morvane
