// The travel limits' members of TFocusControl: the limits themselves, the refusal of a move
// outside them, and the stop of a coarse run that reaches one. The counting thread only wakes
// the stall guard's thread; that thread stops the motor, as it does on a stall.

#include "controller/Objects.h"
#include "controller/StallWatchThread.h"
#include "platform/Signals.h"

namespace morvane {

TTravelLimits TFocusControl::TravelLimits() const {
  if (!FLimitsSet.load()) return {};
  return {true, FLowerLimit.load(), FUpperLimit.load()};
}

bool TFocusControl::SetTravelLimits(const TTravelLimits& limits) {
  if (limits.Set && !LimitsValid(limits.Lower, limits.Upper)) return false;
  std::lock_guard lock(FMoveLock);
  // The guard and the moves read the limits without a lock: they change only while nothing
  // moves.
  if (FMoveActive || FSuccessorPending || FFinalLegPending || FCoarseDrive.load() ||
      FTravelSearch.load() || !FThreads.Running().empty())
    return false;
  FLimitsSet.store(false);
  FLowerLimit.store(limits.Lower);
  FUpperLimit.store(limits.Upper);
  FLimitsSet.store(limits.Set);
  return true;
}

std::string TFocusControl::LimitRefusal(int64_t target) const {
  const TTravelLimits limits = TravelLimits();
  return OutsideLimits(limits, target) ? OutsideLimitsText(limits, target) : std::string();
}

void TFocusControl::NoteCount(int32_t count) {
  if (!FCoarseDrive.load() || !FLimitsSet.load()) return;
  if (!RunAtLimit(TravelLimits(), count, FCoarseUp.load())) return;
  std::lock_guard lock(FStallLock);
  if (FStallWatch) FStallWatch->Wake();
}

void TFocusControl::CheckLimit() {
  const TTravelLimits limits = TravelLimits();
  if (!FCoarseDrive.load() || !RunAtLimit(limits, FCTSCount.load(), FCoarseUp.load())) return;
  std::string text;
  {
    // Whole, against the run's own stop and a new run's drive.
    std::lock_guard drive(FDriveLock);
    const int32_t count = FCTSCount.load();
    const bool up = FCoarseUp.load();
    if (!FCoarseDrive.load() || !RunAtLimit(limits, count, up)) return;
    FCoarseDrive.store(false);
    SendFocusCommand(":FQ#");
    SendFocusCommand(":FQ#");
    ClearRTS();
    text = LimitStopText(limits, count, up);
  }
  {
    std::lock_guard lock(FStallLock);
    FLastFault = text;
  }
  LogLine(text);
  // The window ends the run as at its button's release, and says why on the status line.
  if (OnStallFault) OnStallFault(this, text);
}

}  // namespace morvane
