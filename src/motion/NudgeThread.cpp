#include "motion/NudgeThread.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "controller/Objects.h"
#include "platform/Signals.h"

namespace morvane {

namespace {
constexpr uint32_t SettleMs = 100;  // lets a stopped run come to rest before the direction is taken
constexpr int32_t CloseCodes = 2;   // within this distance pulses are short and pauses long

// The Part's pulse lengths hold while they move the motor by about a code. A pulse that
// leaves the count where it was three passes running is lengthened by half: in command mode
// the command itself spends about 4 ms on the wire, and a motor that needs a little more to
// break away would otherwise never move. The longest pulse is the Setup's upper bound for the
// nudge times; a motor that two pulses of that length do not move is not moving at all, and
// the move ends with a message. A pulse that, going by the last pass, would carry a light
// motor more than a code past the target is shortened in proportion, down to what the drive
// can still deliver.
constexpr uint32_t LongestPulseMs = 100;
constexpr int StillPassesAtLongest = 2;
constexpr double Lengthening = 1.5;
constexpr int StillPassesBeforeLengthening = 3;
constexpr uint32_t ShortestDirectPulseMs = 2;
constexpr double CommandWireMs = 4;  // a command's four characters at 9600 baud
constexpr uint32_t ShortestCommandPulseMs = 6;  // the command on the wire, and 2 ms more
// The count is at rest once it has held still this long, and half again as long as its last
// change took; the wait gives up after CoastLimitMs.
constexpr uint32_t CoastHoldMs = 15;
constexpr int64_t CoastHoldLongestUs = 150'000;
constexpr int64_t CoastLimitUs = 500'000;

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
    const int64_t hold = std::min(std::max<int64_t>(CoastHoldMs * 1000, interval * 3 / 2),
                                  CoastHoldLongestUs);
    if (now - lastChange >= hold || now - start >= CoastLimitUs || c.NudgeCancel.load()) return;
  }
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
  // A heavy motor may coast on beyond the settling time: the direction is taken once it rests.
  Sleep(SettleMs - CoastHoldMs);
  WaitForRest();

  const bool up = c.CTSCount() < Target;
  auto distance = [this, &c] { return std::abs(int64_t{c.CTSCount()} - Target); };
  auto far = [&distance] { return distance() > CloseCodes; };
  const int64_t startDistance = distance();
  const bool direct = c.UseRTS_DTR();
  const bool dual = c.DualSense();
  // Starts from what earlier moves learnt of this motor in this drive mode and resolution.
  const TFocusControl::TNudgeResponse learnt = c.NudgeResponse(direct, dual);
  double stillMs = learnt.StillMs;  // the longest pulse that left the count where it was
  int64_t lastMoved = learnt.Moved;  // codes the last pass that moved the count moved it ...
  double lastPulseMs = learnt.PulseMs;  // ... with a pulse this long
  int stillAtLongest = 0;
  int stillPasses = 0;  // passes in a row that left the count alone
  const char* giveUp = nullptr;
  // This pass's pulse in ms; d: the distance to the target before it.
  auto pulseLength = [&](int64_t d) {
    double ms = SecondsToMs(d > CloseCodes ? c.NudgeTime() : c.CloseNudgeTime());
    if (lastMoved > 0) {
      // Reckoned from the last pulse that moved the count, in proportion to the drive time
      // beyond the command's time on the wire for a shorter pulse and with its cube for a
      // longer one (a motor spinning up against friction, then coasting on what it reached):
      // either way this rates the pulse's travel high rather than low. Aimed at the target,
      // so that the scatter of the travel stays within a code past it.
      const double dead = direct ? 0.0 : CommandWireMs;
      const double lastDrive = std::max(lastPulseMs - dead, 1.0);
      // The last pulse that moved the motor this far carries it there already.
      if (lastMoved >= d) ms = std::min(ms, lastPulseMs);
      const double r = std::max(ms - dead, 0.0) / lastDrive;
      const double wanted = (double(d) + 0.5) / double(lastMoved);  // the travel's share
      if (lastMoved * (r <= 1 ? r : r * r * r) > double(d) + 0.5)
        ms = dead + lastDrive * (wanted <= 1 ? wanted : std::cbrt(wanted));
    }
    ms = std::max(ms, stillMs * Lengthening);
    const double shortest = c.UseRTS_DTR() ? ShortestDirectPulseMs : ShortestCommandPulseMs;
    const double longest = std::max(LongestPulseMs, SecondsToMs(c.NudgeTime()));
    return static_cast<uint32_t>(std::lround(std::clamp(ms, shortest, longest)));
  };
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
    const uint32_t pulseMs = pulseLength(distance());
    Sleep(pulseMs);
    CheckSuspended();
    c.ClearRTS();
    if (!c.InterruptsOff()) {
      // The close pause is longer by the ratio of the two pulse lengths; formed in full
      // precision and rounded once.
      const double pause = far() ? c.NudgeSleep()
                                 : c.NudgeSleep() * (c.NudgeTime() / c.CloseNudgeTime());
      // A heavy motor may still coast when the pause ends: the count is taken once it rests,
      // so that neither the end test nor the next pulse goes by a count still changing.
      const uint32_t pauseMs = SecondsToMs(pause);
      Sleep(pauseMs - std::min(CoastHoldMs, pauseMs));
      WaitForRest();
    }
    if (c.NudgeCancel.load()) {
      c.ClearRTS();
      Terminate();
    }
    // A closed port brings no more counts.
    if (!c.Port()) Terminate();
    const int32_t count = c.CTSCount();
    // A pass cut short by a cancel took its count before the motor came to rest.
    if (drove && !c.NudgeCancel.load()) {
      if (count != before) {
        lastMoved = std::abs(int64_t{count} - before);
        lastPulseMs = pulseMs;
        stillAtLongest = 0;
        stillPasses = 0;
      } else {
        // A motor the Part's close pulse moves a fraction of a code at a time still moves:
        // the pulse is lengthened only after a few passes that all left the count alone.
        if (++stillPasses >= StillPassesBeforeLengthening) {
          stillMs = std::max<double>(stillMs, pulseMs);
          stillPasses = 0;
        }
        if (pulseMs >= std::max(LongestPulseMs, SecondsToMs(c.NudgeTime())) &&
            ++stillAtLongest >= StillPassesAtLongest) {
          giveUp = NotMovingText;
          Terminate();
        }
      }
    }
    if ((up && count > Target) || (!up && count < Target) || count == Target || Terminated())
      break;
    if (distance() > startDistance + AwayLimitCodes) {
      giveUp = AwayText;
      break;
    }
  }
  if (giveUp == NotMovingText)
    c.SetNudgeResponse(direct, dual, {});
  else if (lastMoved > 0)
    c.SetNudgeResponse(direct, dual, {lastMoved, lastPulseMs, stillMs < lastPulseMs ? stillMs : 0});
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
