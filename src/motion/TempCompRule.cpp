#include "motion/TempCompRule.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace morvane {

int32_t TTempCompRule::EffectiveDeadBand(double coefficient, int32_t deadBand) {
  const int32_t band = std::max(deadBand, 1);
  if (!std::isfinite(coefficient)) return band;
  // Coefficients are bounded by the settings (10 000 codes/degree), so the product fits; the
  // bound here keeps a stray one from reaching the conversion.
  const double flicker = std::min(std::abs(coefficient) * ModuleResolution, 1e6);
  return std::max(band, static_cast<int32_t>(std::floor(flicker)) + 1);
}

TReadingVerdict TTempCompRule::CheckReading(double celsius, std::optional<double> last,
                                            std::optional<double> unconfirmed) {
  if (!Plausible(celsius)) return TReadingVerdict::rvOutOfRange;
  const auto near = [celsius](std::optional<double> other) {
    return other && std::abs(celsius - *other) <= MostStepCelsius;
  };
  // Two readings in a row that agree are the temperature, however far it went meanwhile.
  if (!last || near(last) || near(unconfirmed)) return TReadingVerdict::rvTaken;
  return TReadingVerdict::rvJump;
}

double TTempCompRule::Median(std::span<const double> samples) {
  if (samples.empty()) return 0;
  std::vector<double> v(samples.begin(), samples.end());
  std::sort(v.begin(), v.end());
  const size_t mid = v.size() / 2;
  return v.size() % 2 ? v[mid] : (v[mid - 1] + v[mid]) / 2;
}

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
  // A reference that is no tube temperature (a settings file written by hand) gives no drift:
  // the driver takes a new one from the next reading.
  if (!Plausible(in.Reference)) return d;
  const double drift = in.Coefficient * (in.Average - in.Reference);
  if (!std::isfinite(drift)) return d;
  const int32_t band = EffectiveDeadBand(in.Coefficient, in.DeadBand);
  if (std::abs(drift) < band) return d;
  // Bounded before the conversion: never more than a few dead bands in one tick.
  const double most = static_cast<double>(MostDeadBandsPerMove) * band;
  const double codes = std::clamp(std::trunc(drift), -most, most);
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
