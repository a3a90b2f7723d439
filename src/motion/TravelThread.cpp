#include "motion/TravelThread.h"

#include <algorithm>

#include "platform/Signals.h"

namespace morvane {

namespace {
constexpr uint32_t SliceMs = 5;  // how late a cancel or the guard's stop may be noticed
// The count is at rest once it has held still this long; the wait gives up after
// RestLimitUs.
constexpr int64_t RestHoldUs = 40'000;
constexpr int64_t RestLimitUs = 1'000'000;
}  // namespace

std::string TravelReportText(const TTravelReport& r) {
  std::string text;
  switch (r.End) {
    case TTravelEnd::teDone:
      text = "The end stops are at " + std::to_string(r.LowerStop) + " and " +
             std::to_string(r.UpperStop) + ".";
      break;
    case TTravelEnd::teStopped:
      text = "Find Travel was stopped.";
      break;
    case TTravelEnd::tePortClosed:
      text = "The port closed during Find Travel.";
      break;
    case TTravelEnd::teNoPermit:
      text = "The camera program did not permit Find Travel to move the focuser.";
      break;
  }
  text += " The focuser is at " + std::to_string(r.Left) + ".";
  return text;
}

TFocusControl::TMeasureRefusal TFocusControl::FindTravel(TTravelProgress Progress,
                                                         TTravelDone Done) {
  if (!FPortHandle.load()) return TMeasureRefusal::mrPortClosed;
  if (FInterruptsOff.load()) return TMeasureRefusal::mrPaused;
  if (FCoarseDrive.load()) return TMeasureRefusal::mrCoarseRun;
  std::lock_guard lock(FMoveLock);
  FThreads.Reap();
  if (FSuccessorPending || FMoveActive || FTravelSearch.load() || !FThreads.Running().empty())
    return TMeasureRefusal::mrMoving;
  GeneralDelayEvent().ResetEvent();
  ClearLastFault();
  FFinalLegPending = false;
  FMoveActive = true;
  FMoveTarget = FCTSCount.load();
  FTravelSearch.store(true);
  KeepMotionThread(std::make_shared<TTravelThread>(*this, std::move(Progress), std::move(Done)));
  return TMeasureRefusal::mrNone;
}

TTravelThread::TTravelThread(TFocusControl& controller, TTravelProgress progress, TTravelDone done)
    : TThread("mrv-travel", TThreadPriority::tpNormal),
      Controller(controller),
      Start(controller.CTSCount()),
      Progress(std::move(progress)),
      Done(std::move(done)) {
  Controller.NudgeCancel.store(false);
  Controller.NudgeIdle.store(false);
  Controller.DoIdleChange();
  TThread::Start();
}

bool TTravelThread::Cancelled() const {
  return Controller.NudgeCancel.load() || Terminated();
}

void TTravelThread::WaitForRest(bool untilRest) {
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

bool TTravelThread::RunToStop(bool up, int32_t& stop) {
  TFocusControl& c = Controller;
  const uint64_t stalls = c.StallCount();
  c.ClearRTS();
  bool driving = c.SendMoveDrive(up, c.NudgeCancel);
  // Only the guard ends the run: it stops the motor once the count stands still under the
  // drive, which it does at the stop.
  while (c.StallCount() == stalls) {
    if (Cancelled() || !c.Port()) return false;
    if (c.InterruptsOff() || c.Paused.load()) {
      // A pause holds the drive; it goes on once the pause has ended.
      driving = false;
    } else if (!driving) {
      driving = c.SendMoveDrive(up, c.NudgeCancel);
    }
    Sleep(SliceMs);
  }
  WaitForRest();
  stop = c.CTSCount();
  return !Cancelled();
}

void TTravelThread::Execute() {
  TFocusControl& c = Controller;
  TTravelReport report;
  report.Start = Start;
  TCameraControl* camera = c.CameraControl.load();
  // A camera program that must permit moves permits this one too.
  if (c.SBIGInterlock.load() && !(camera && camera->State())) {
    const TWaitResult r = WaitForEvent(FocuserWaitEvent(), c.Timeouts.InterlockWaitMs,
                                       [this] { return Cancelled(); });
    if (r != TWaitResult::wrSignaled && !Cancelled()) report.End = TTravelEnd::teNoPermit;
  }
  if (report.End == TTravelEnd::teDone) {
    // Slowly: the motor meets each stop at the handset's slow rate.
    c.SendFocusCommand(":FS#");
    if (Progress) Progress("Find Travel: running out to the lower end stop");
    if (!RunToStop(false, report.LowerStop)) {
      report.End = TTravelEnd::teStopped;
    } else {
      if (Progress)
        Progress("Find Travel: lower end stop at " + std::to_string(report.LowerStop) +
                 "; running in to the upper end stop");
      if (!RunToStop(true, report.UpperStop)) report.End = TTravelEnd::teStopped;
    }
  }
  if (report.End == TTravelEnd::teStopped && !c.Port()) report.End = TTravelEnd::tePortClosed;
  Close(report);
  if (c.LifeState() != TLifeState::lsDismantling && Done) Done(report);
}

void TTravelThread::Close(TTravelReport& report) {
  TFocusControl& c = Controller;
  c.ClearRTS();
  c.SendFocusCommand(":FQ#");
  c.SendFocusCommand(":FQ#");
  c.FTravelSearch.store(false);
  std::vector<std::shared_ptr<TThread>> back;
  bool goBack = false;
  {
    std::lock_guard lock(c.MoveLock());
    goBack = report.End == TTravelEnd::teDone && !Cancelled() && c.Port() &&
             c.LifeState() != TLifeState::lsDismantling && !c.SuccessorPending();
    if (goBack) {
      if (Progress)
        Progress("Find Travel: end stops at " + std::to_string(report.LowerStop) + " and " +
                 std::to_string(report.UpperStop) + "; returning to " + std::to_string(Start));
      // The way back is a move like any other, within the same busy period.
      c.FThreads.Reap();
      c.StartApproach(Start);
      back = c.FThreads.Running();
      std::erase_if(back, [this](const std::shared_ptr<TThread>& t) { return t.get() == this; });
    } else if (!c.SuccessorPending()) {
      c.NudgeIdle.store(true);
    }
  }
  if (!goBack) {
    c.SendFocusCommand(":FQ#");
    c.FinishMove(true);
  }
  while (!back.empty() && !Terminated()) {
    for (auto& t : back)
      while (!t->WaitFinished(50) && !Terminated()) {
      }
    std::lock_guard lock(c.MoveLock());
    back.clear();
    if (c.SuccessorPending()) break;
    c.FThreads.Reap();
    back = c.FThreads.Running();
    std::erase_if(back, [this](const std::shared_ptr<TThread>& t) { return t.get() == this; });
  }
  WaitForRest(true);
  report.Left = c.CTSCount();
}

}  // namespace morvane
