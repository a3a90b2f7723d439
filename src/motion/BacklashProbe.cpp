#include "motion/BacklashProbe.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace morvane {

namespace {
// A pulse that turns the motor less than a code leaves the count blind to part of the play:
// the calibration is made again with pulses half as long again, up to the longest.
constexpr double Lengthening = 1.5;
}  // namespace

TBacklashProbe::TBacklashProbe(bool up, uint32_t pulseMs, const TBacklashProbeLimits& limits)
    : FLimits(limits), FUp(up), FPulseMs(std::clamp<uint32_t>(pulseMs, 1, limits.LongestMs)) {}

TProbeStep TBacklashProbe::Next() const {
  switch (FPhase) {
    case TPhase::TakeUp:
      return {false, FUp, FLimits.TakeUpMs};
    case TPhase::Calibrate:
      return {false, FUp, FPulseMs};
    case TPhase::Reverse:
      return {false, !FUp, FPulseMs};
    case TPhase::Done:
      break;
  }
  return {true, FUp, 0};
}

void TBacklashProbe::Finish(TBacklashOutcome outcome) {
  FResult.Outcome = outcome;
  FResult.PulseMs = FPulseMs;
  FResult.ReversePulses = FReversePulses;
  FPhase = TPhase::Done;
}

void TBacklashProbe::Passed(int32_t before, int32_t after) {
  if (FPhase == TPhase::Done) return;
  // In the direction of the pulse given.
  const int64_t moved = (int64_t{after} - before) * (Next().Up ? 1 : -1);
  if (FPhase == TPhase::Reverse) {
    ++FReversePulses;
    // The count moving on the old way is a coast the wait for rest missed: not a reversal.
    if (moved > 0) return FinishReversal();
    const double rateHigh = double(FCalCodes + 1) / FLimits.CalibrationPulses;
    if (FReversePulses >= FLimits.ReversePulses || FReversePulses * rateHigh > FLimits.PlayCodes)
      Finish(TBacklashOutcome::boNoReversal);
    return;
  }
  if (moved < 0) return Finish(TBacklashOutcome::boMovedAway);
  FTravel += moved;
  if (FTravel > FLimits.TravelCodes) return Finish(TBacklashOutcome::boTooFar);
  if (FPhase == TPhase::TakeUp) {
    if (moved >= FLimits.TakeUpCodes) {
      FPhase = TPhase::Calibrate;
    } else if (++FRuns >= FLimits.TakeUpRuns) {
      Finish(TBacklashOutcome::boNotMoving);
    }
    return;
  }
  FCalCodes += moved;
  if (++FCalPulses < FLimits.CalibrationPulses) return;
  FResult.CodesPerPulse = double(FCalCodes) / FCalPulses;
  if (FCalCodes >= FCalPulses) {
    FPhase = TPhase::Reverse;
  } else if (FPulseMs < FLimits.LongestMs) {
    FPulseMs = std::min<uint32_t>(FLimits.LongestMs, std::lround(FPulseMs * Lengthening));
    FCalPulses = 0;
    FCalCodes = 0;
  } else if (2 * FCalCodes < FCalPulses) {
    // Under half a code a pulse even at the longest: the pulses cannot measure it.
    Finish(TBacklashOutcome::boNotMoving);
  } else {
    FPhase = TPhase::Reverse;  // under a code a pulse at the longest: measured coarsely
  }
}

// The count moved back on reversing pulse n. Each count read is whole, so the K calibration
// pulses turned the motor D - 1 to D + 1 codes; the shaft stood anywhere within its code, up
// to one code before the count moves. So the play lies above (n - 1) pulses less that code
// and at most n pulses: half way, plus or minus half the span. Where the span reaches 0 no
// play is proven.
void TBacklashProbe::FinishReversal() {
  const double k = FLimits.CalibrationPulses;
  const double rateLow = std::max<double>(double(FCalCodes - 1), 0) / k;
  const double rateHigh = double(FCalCodes + 1) / k;
  const double upper = FReversePulses * rateHigh;
  const double lower = (FReversePulses - 1) * rateLow - 1;
  if (lower <= 0) {
    FResult.PlayCodes = 0;
    FResult.Uncertainty = upper;
    Finish(TBacklashOutcome::boNotSeen);
    return;
  }
  FResult.PlayCodes = (lower + upper) / 2;
  FResult.Uncertainty = (upper - lower) / 2;
  Finish(TBacklashOutcome::boMeasured);
}

std::string BacklashResultText(const TBacklashResult& r) {
  char text[400];
  switch (r.Outcome) {
    case TBacklashOutcome::boMeasured:
      std::snprintf(text, sizeof text,
                    "Play between the motor and the encoder: %.1f codes (\u00b1 %.1f). The nudges "
                    "already take it up: backlash compensation is not needed for it.",
                    r.PlayCodes, r.Uncertainty);
      break;
    case TBacklashOutcome::boNotSeen:
      std::snprintf(text, sizeof text,
                    "No play between the motor and the encoder (under %.1f codes): the count "
                    "followed the reversal. Play past the encoder, if any, cannot be seen from "
                    "the count: use backlash compensation and find its codes by focusing from "
                    "each side.",
                    r.Uncertainty);
      break;
    case TBacklashOutcome::boNotMoving:
      std::snprintf(text, sizeof text,
                    "The motor does not move the count. Check the focuser cable and power.");
      break;
    case TBacklashOutcome::boMovedAway:
      std::snprintf(text, sizeof text,
                    "The count moves against the drive. Check Reverse Focuser Direction and the "
                    "Mode in Setup.");
      break;
    case TBacklashOutcome::boNoReversal:
      std::snprintf(text, sizeof text,
                    "The count did not move back after %d reversing pulses (%.0f codes of the "
                    "motor): the play is larger than that, or the motor does not turn back.",
                    r.ReversePulses, r.ReversePulses * r.CodesPerPulse);
      break;
    case TBacklashOutcome::boTooFar:
      std::snprintf(text, sizeof text,
                    "The count ran too far while the play was taken up: the measurement was "
                    "ended.");
      break;
  }
  return text;
}

}  // namespace morvane
