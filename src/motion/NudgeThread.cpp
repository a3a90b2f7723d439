#include "motion/NudgeThread.h"

#include <algorithm>
#include <cstdlib>

#include "controller/Objects.h"
#include "motion/Signals.h"

namespace morvane {

namespace {
constexpr uint32_t SettleMs = 100;  // lets a stopped run come to rest before the direction is taken
constexpr int32_t CloseCodes = 2;   // within this distance pulses are short and pauses long

// A pulse that leaves the count where it was is lengthened for the next pass by a quarter
// (at least 1 ms): in command mode the command itself spends about 4 ms on the wire, and a
// motor that needs a little more to break away would otherwise never move. The longest pulse
// is the Setup's upper bound for the nudge times; a motor that two pulses of that length do
// not move is not moving at all, and the move ends with a message.
constexpr uint32_t LongestPulseMs = 100;
constexpr int StillPassesAtLongest = 2;
// A count that runs this far beyond where the nudges began, away from the target, is driven
// the wrong way: the move ends with a message rather than run on to the end stop.
constexpr int64_t AwayLimitCodes = 20;

const char* const NotMovingText =
    "The focuser did not move during nudging. Check the focuser cable and power; if the motor "
    "needs longer pulses to start, raise Nudge Time and Close Nudge Time in Setup.";
const char* const AwayText =
    "The focuser moved away from its target during nudging. Check Reverse Focuser Direction "
    "and the Mode in Setup.";
}  // namespace

TNudgeThread::TNudgeThread(TFocusControl& controller, int32_t target, bool standAlone)
    : TThread("mrv-nudge", controller.NudgePriority.load()), Target(target), StandAlone(standAlone),
      Controller(controller) {
  Controller.NudgeCancel.store(false);
  Start();
}

void TNudgeThread::ShowMessageText() { Controller.Synchronize(MessageText); }

void TNudgeThread::Report(TWaitResult r, const char* timedOut, const char* abandoned,
                          const char* failed) {
  if (r == TWaitResult::wrSignaled) return;
  MessageText = r == TWaitResult::wrTimeout     ? timedOut
                : r == TWaitResult::wrAbandoned ? abandoned
                                                : failed;
  ShowMessageText();
}

void TNudgeThread::Execute() {
  TFocusControl& c = Controller;
  GeneralDelayEvent().ResetEvent();
  c.CTSEvent().ResetEvent();
  c.NudgeIdle.store(false);
  c.DoIdleChange();

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
  Sleep(SettleMs);

  const bool up = c.CTSCount() < Target;
  auto distance = [this, &c] { return std::abs(int64_t{c.CTSCount()} - Target); };
  auto far = [&distance] { return distance() > CloseCodes; };
  const int64_t startDistance = distance();
  uint32_t extraMs = 0;  // lengthening of the Part's pulses while the count does not respond
  int stillAtLongest = 0;
  const char* giveUp = nullptr;
  CheckSuspended();
  c.SendFocusCommand(":FS#");
  for (;;) {
    CheckSuspended();
    c.ClearRTS();
    Sleep(0);
    CheckSuspended();
    const int32_t before = c.CTSCount();
    // Not during a pause, and not once the move is cancelled: after Stop nothing drives.
    const bool drove = c.SendMoveDrive(up, c.NudgeCancel);
    const uint32_t pulseMs =
        std::min(SecondsToMs(far() ? c.NudgeTime() : c.CloseNudgeTime()) + extraMs,
                 std::max(LongestPulseMs, SecondsToMs(c.NudgeTime())));
    Sleep(pulseMs);
    CheckSuspended();
    c.ClearRTS();
    if (!c.InterruptsOff()) {
      // The close pause is longer by the ratio of the two pulse lengths; formed in full
      // precision and rounded once.
      const double pause = far() ? c.NudgeSleep()
                                 : c.NudgeSleep() * (c.NudgeTime() / c.CloseNudgeTime());
      Sleep(SecondsToMs(pause));
    }
    if (c.NudgeCancel.load()) {
      c.ClearRTS();
      Terminate();
    }
    // A closed port brings no more counts.
    if (!c.Port()) Terminate();
    const int32_t count = c.CTSCount();
    if ((up && count > Target) || (!up && count < Target) || count == Target || Terminated())
      break;
    if (drove) {
      if (count != before) {
        stillAtLongest = 0;  // this length moves the motor: keep it
      } else if (pulseMs < LongestPulseMs) {
        extraMs += std::max<uint32_t>(1, pulseMs / 4);
      } else if (++stillAtLongest >= StillPassesAtLongest) {
        giveUp = NotMovingText;
        break;
      }
    }
    if (distance() > startDistance + AwayLimitCodes) {
      giveUp = AwayText;
      break;
    }
  }
  CheckSuspended();
  {
    // Superseded by a move waiting to start, this thread only stops the motor: the controller
    // stays busy and the new move reports its end.
    std::lock_guard lock(c.MoveLock());
    if (!c.SuccessorPending()) c.NudgeIdle.store(true);
  }
  c.SendFocusCommand(":FQ#");
  c.SendFocusCommand(":FQ#");
  c.FinishMove();
  if (giveUp) {
    MessageText = giveUp;
    ShowMessageText();
  }
}

}  // namespace morvane
