#include "motion/NudgeThread.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "controller/Objects.h"
#include "motion/ApproachRule.h"
#include "motion/NudgePlanner.h"
#include "platform/Signals.h"

namespace morvane {

namespace {
constexpr uint32_t SettleMs = 100;  // lets a stopped run come to rest before the direction is taken
// The count is at rest once it has held still this long, and half again as long as its last
// change took; the wait gives up after CoastLimitMs.
constexpr uint32_t CoastHoldMs = 15;
constexpr int64_t CoastHoldLongestUs = 150'000;
constexpr int64_t CoastLimitUs = 500'000;

const char* const NotMovingText =
    "The focuser did not move during nudging. Check the focuser cable and power; if the motor "
    "needs longer pulses to start, raise Nudge Time and Close Nudge Time in Setup.";
const char* const AwayText =
    "The focuser moved away from its target during nudging. Check Reverse Focuser Direction "
    "and the Mode in Setup.";
}  // namespace

TNudgeThread::TNudgeThread(TFocusControl& controller, int32_t target, bool standAlone)
    : TThread("mrv-nudge", controller.NudgePriority.load()),
      Target(target),
      StandAlone(standAlone),
      Controller(controller) {
  Controller.NudgeCancel.store(false);
  // Busy from here, not from when the thread first runs: a thread that starts late must
  // neither leave an idle moment after the run nor report busy after a cancel.
  Controller.NudgeIdle.store(false);
  Controller.DoIdleChange();
  Start();
}

#ifdef MORVANE_TEST_HOOKS
std::atomic<void (*)()> TNudgeThread::StartHook{nullptr};
#endif

void TNudgeThread::ShowMessageText() {
  Controller.Synchronize(MessageText);
}

void TNudgeThread::Report(TWaitResult r, const char* timedOut, const char* abandoned,
                          const char* failed) {
  if (r == TWaitResult::wrSignaled) return;
  MessageText = r == TWaitResult::wrTimeout     ? timedOut
                : r == TWaitResult::wrAbandoned ? abandoned
                                                : failed;
  ShowMessageText();
}

void TNudgeThread::WaitForRest() {
  TFocusControl& c = Controller;
  constexpr uint32_t PollMs = 5;
  const int64_t start = MonotonicMicros();
  int64_t lastChange = start, interval = 0;
  int32_t last = c.CTSCount();
  for (;;) {
    Sleep(PollMs);
    const int64_t now = MonotonicMicros();
    const int32_t count = c.CTSCount();
    if (count != last) {
      interval = now - lastChange;
      lastChange = now;
      last = count;
    }
    const int64_t hold =
        std::min(std::max<int64_t>(CoastHoldMs * 1000, interval * 3 / 2), CoastHoldLongestUs);
    if (now - lastChange >= hold || now - start >= CoastLimitUs || c.NudgeCancel.load()) return;
  }
}

void TNudgeThread::Execute() {
#ifdef MORVANE_TEST_HOOKS
  if (const auto hook = StartHook.load()) hook();
#endif
  // The move's start reset "GENERAL_DELAY_EVENT", and the end-move thread's "THE_CTS_EVENT",
  // before the work that sets them began: a thread that starts late finds them set.
  TFocusControl& c = Controller;

  // A cancelled move waits for nobody.
  auto cancelled = [&c] { return c.NudgeCancel.load(); };
  TCameraControl* camera = c.CameraControl.load();
  // With the interlock on and no camera object to ask, permission is waited for all the same.
  if (c.SBIGInterlock.load() && StandAlone && !(camera && camera->State())) {
    const TWaitResult r = WaitForEvent(FocuserWaitEvent(), c.Timeouts.InterlockWaitMs, cancelled);
    if (!cancelled())
      Report(r, "Time out during interlocked nudging", "Abandoned event during interlocked nudging",
             "An error occurred during interlocked nudging");
  }
  if (!StandAlone) {
    const TWaitResult r = WaitForEvent(c.CTSEvent(), c.Timeouts.HandOverWaitMs, cancelled);
    if (r != TWaitResult::wrSignaled && !cancelled()) {
      // The run never reached its stop point (no count, or the motor turning the wrong way):
      // it is stopped before the nudges start, rather than left running under them.
      c.EndMoveCancel.store(true);
      c.SignalMotion();
      Report(r, "Time out during nudging", "Abandoned event during nudging",
             "An error occurred during nudging");
    }
  }
  // A heavy motor may coast on beyond the settling time: the direction is taken once it rests.
  Sleep(SettleMs - CoastHoldMs);
  WaitForRest();

  const bool direct = c.UseRTS_DTR();
  const bool dual = c.DualSense();
  // Starts from what earlier moves learnt of this motor in this drive mode and resolution.
  const TFocusControl::TNudgeResponse known = c.NudgeResponse(direct, dual);
  const int32_t start = c.CTSCount();
  // A run that coasted past its target, or nudges against the last run's direction, take up
  // the play between motor and encoder first.
  const bool up = start < Target;
  const bool reversing = up != (StandAlone ? c.LastDirection() : c.RunUp.load());
  TNudgePlanner plan(Target, start, {known.Moved, known.PulseMs, known.StillMs}, reversing);
  // A nudge always gives one pulse, downwards when it starts on its target. With a final
  // approach from one side, a run that came to rest on its target came from that side, and
  // that pulse could turn the draw tube back across its play: none is given.
  const bool landed =
      start == Target &&
      TApproachRule::FromSettings(c.ApproachMode.load(), c.ApproachCodes.load()).Active();
  TNudgeVerdict verdict = landed ? TNudgeVerdict::nvLanded : TNudgeVerdict::nvPulse;
  CheckSuspended();
  c.SendFocusCommand(":FS#");
  while (!landed) {
    CheckSuspended();
    c.ClearRTS();
    Sleep(0);
    CheckSuspended();
    const int32_t before = c.CTSCount();
    // The settings may change between passes.
    const TNudgePass pass =
        plan.Next(before, {c.NudgeTime(), c.CloseNudgeTime(), c.NudgeSleep(), c.UseRTS_DTR()});
    // Not during a pause, and not once the move is cancelled: after Stop nothing drives.
    const bool drove = c.SendMoveDrive(plan.Up(), c.NudgeCancel);
    Sleep(pass.PulseMs);
    CheckSuspended();
    c.ClearRTS();
    if (!c.InterruptsOff()) {
      // A heavy motor may still coast when the pause ends: the count is taken once it rests,
      // so that neither the end test nor the next pulse goes by a count still changing.
      Sleep(pass.PauseMs - std::min(CoastHoldMs, pass.PauseMs));
      WaitForRest();
    }
    if (c.NudgeCancel.load()) {
      c.ClearRTS();
      Terminate();
    }
    // A closed port brings no more counts.
    if (!c.Port()) Terminate();
    // A pass cut short by a cancel took its count before the motor came to rest.
    verdict = plan.Passed(before, c.CTSCount(), drove && !c.NudgeCancel.load());
    if (verdict != TNudgeVerdict::nvPulse || Terminated()) break;
  }
  const TNudgeLearnt learnt = plan.Learnt();
  if (plan.Forget())
    c.SetNudgeResponse(direct, dual, {});
  else if (learnt.Moved > 0)
    c.SetNudgeResponse(direct, dual, {learnt.Moved, learnt.PulseMs, learnt.StillMs});
  CheckSuspended();
  const bool failed =
      verdict == TNudgeVerdict::nvNotMoving || verdict == TNudgeVerdict::nvMovedAway;
  {
    // Superseded by a move waiting to start, this thread only stops the motor: the controller
    // stays busy and the new move reports its end.
    std::lock_guard lock(c.MoveLock());
    // Nor is it idle between the legs of a compensated move.
    if (!c.SuccessorPending() && !(c.FinalLegPending() && !failed && !c.NudgeCancel.load()))
      c.NudgeIdle.store(true);
  }
  c.SendFocusCommand(":FQ#");
  c.SendFocusCommand(":FQ#");
  c.FinishMove(failed);
  if (failed) {
    MessageText = verdict == TNudgeVerdict::nvNotMoving ? NotMovingText : AwayText;
    ShowMessageText();
  }
}

}  // namespace morvane
