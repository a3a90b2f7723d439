#include "motion/TempCompRule.h"

#include <algorithm>
#include <cmath>

namespace morvane {

TTempCompDecision TTempCompRule::Decide(const TTempCompInput& in) {
  TTempCompDecision d;
  d.NewReference = in.Reference;
  if (!in.ReadingValid || !std::isfinite(in.Average)) {
    d.Action = TTempCompAction::taReadingFailed;
    return d;
  }
  if (in.Average < LowestCelsius || in.Average > HighestCelsius) {
    d.Action = TTempCompAction::taOutOfRange;
    return d;
  }
  // A permit or a hold outranks a busy focuser: the operator is told why nothing will move.
  if (in.Held) {
    d.Action = TTempCompAction::taHeld;
    return d;
  }
  if (in.PermitMissing) {
    d.Action = TTempCompAction::taNoPermit;
    return d;
  }
  if (!in.Idle) {
    d.Action = TTempCompAction::taBusy;
    return d;
  }
  if (!std::isfinite(in.Coefficient) || in.Coefficient == 0) return d;
  const double drift = in.Coefficient * (in.Average - in.Reference);
  // Within the range of temperatures above, the drift of any accepted coefficient fits.
  const double codes = std::trunc(drift);
  if (std::abs(codes) < std::max(in.DeadBand, 1)) return d;
  d.Action = TTempCompAction::taMove;
  d.Codes = static_cast<int32_t>(codes);
  // The reference moves by exactly what the move made up for, so that the part of a code
  // left over is not lost but counted into the next move.
  d.NewReference = in.Reference + codes / in.Coefficient;
  return d;
}

const char* TempCompStateText(TTempCompAction a) {
  switch (a) {
    case TTempCompAction::taHeld:
      return "Temperature compensation held";
    case TTempCompAction::taNoPermit:
      return "Temperature compensation waits for the camera's permit";
    case TTempCompAction::taReadingFailed:
      return "Temperature compensation paused: the temperature reading failed";
    case TTempCompAction::taOutOfRange:
      return "Temperature compensation paused: the temperature is out of range";
    default:
      return "";
  }
}

}  // namespace morvane
