#include "motion/ApproachRule.h"

#include <algorithm>
#include <limits>

namespace morvane {

TApproachRule TApproachRule::FromSettings(int32_t mode, int32_t codes) {
  TApproachRule r;
  r.Mode = mode == 1   ? TApproachMode::amInward
           : mode == 2 ? TApproachMode::amOutward
                       : TApproachMode::amOff;
  r.Codes = std::max(codes, 0);
  return r;
}

TApproachPlan TApproachRule::Plan(int32_t From, int32_t Target, const TTravelLimits& limits) const {
  if (!Active() || From == Target) return {};
  const bool wantRising = Mode == TApproachMode::amInward;
  // Where the final approach starts; near the end of the count's range it is as far as the
  // range allows, and none is left when the target is there.
  const int64_t start = wantRising ? int64_t{Target} - Codes : int64_t{Target} + Codes;
  const int64_t low = limits.Set ? limits.Lower : std::numeric_limits<int32_t>::min();
  const int64_t high = limits.Set ? limits.Upper : std::numeric_limits<int32_t>::max();
  // A target outside the limits is refused before this; should one come, the first leg still
  // goes no further out than the target itself.
  const int64_t first =
      std::clamp<int64_t>(start, std::min<int64_t>(low, Target), std::max<int64_t>(high, Target));
  if (first == Target) return {};
  // Already on the final approach: one leg.
  const bool onApproach =
      wantRising ? From >= first && From < Target : From <= first && From > Target;
  if (onApproach) return {};
  return {true, static_cast<int32_t>(first)};
}

}  // namespace morvane
