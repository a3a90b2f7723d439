#include "motion/NudgeThread.h"

#include <cstdlib>

#include "controller/Objects.h"
#include "motion/Signals.h"

namespace morvane {

namespace {
constexpr uint32_t SettleMs = 100;  // lets a stopped run come to rest before the direction is taken
constexpr int32_t CloseCodes = 2;   // within this distance pulses are short and pauses long
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

  TCameraControl* camera = c.CameraControl.load();
  // With the interlock on and no camera object to ask, permission is waited for all the same.
  if (c.SBIGInterlock.load() && StandAlone && !(camera && camera->State())) {
    Report(WaitForEvent(FocuserWaitEvent(), c.Timeouts.InterlockWaitMs), "Time out during interlocked nudging",
           "Abandoned event during interlocked nudging",
           "An error occurred during interlocked nudging");
  }
  if (!StandAlone) {
    Report(WaitForEvent(c.CTSEvent(), c.Timeouts.HandOverWaitMs), "Time out during nudging",
           "Abandoned event during nudging", "An error occurred during nudging");
  }
  Sleep(SettleMs);

  const bool up = c.CTSCount() < Target;
  const char* drive = up ? ":F-#" : ":F+#";
  auto far = [this, &c] { return std::abs(int64_t{c.CTSCount()} - Target) > CloseCodes; };
  CheckSuspended();
  c.SendFocusCommand(":FS#");
  for (;;) {
    CheckSuspended();
    c.ClearRTS();
    Sleep(0);
    CheckSuspended();
    if (!c.InterruptsOff()) c.SendFocusCommand(drive);
    Sleep(SecondsToMs(far() ? c.NudgeTime() : c.CloseNudgeTime()));
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
    const int32_t count = c.CTSCount();
    if ((up && count > Target) || (!up && count < Target) || count == Target || Terminated())
      break;
  }
  CheckSuspended();
  c.NudgeIdle.store(true);
  c.SendFocusCommand(":FQ#");
  c.SendFocusCommand(":FQ#");
  c.DoIdleChange();
  GeneralDelayEvent().SetEvent();
}

}  // namespace morvane
