#pragma once
// The one mapping between Morvane's count and the position INDI and Alpaca clients show, and
// its range. Plain arithmetic, without the bus.

#include <cstdint>

#include "platform/BusContract.h"

namespace morvane {

// A client's positions run from 0 (all the way in) to Max, rising outward, where Morvane's
// count rises inward: position = TopCount - count. Without travel limits TopCount and Max are
// Morvane's PositionScale, so that the count 0 (reset all the way out) is the position Max;
// with limits the positions span them, the upper limit at 0 and the lower one at Max.
struct TClientScale {
  int64_t Max = DefaultPositionScale;
  int64_t TopCount = DefaultPositionScale;
  bool FromLimits = false;
  bool operator==(const TClientScale&) const = default;
};

// The scale for a state: its limits when they are set and span at least one count, otherwise
// scale (PositionScale, or a client's own where the user kept one).
TClientScale ClientScale(bool limitsSet, int32_t lower, int32_t upper, int64_t scale);

inline int64_t ClientPosition(int64_t count, const TClientScale& s) {
  return s.TopCount - count;
}
inline int64_t CountAt(int64_t position, const TClientScale& s) {
  return s.TopCount - position;
}
inline bool PositionInRange(int64_t position, const TClientScale& s) {
  return position >= 0 && position <= s.Max;
}

}  // namespace morvane
