#pragma once
// Travel limits: a lower and an upper count the focuser is kept between. A move to a target
// outside them is refused; a coarse run going out past one is stopped there. Pure: no clock,
// no thread. The counting thread and the stall guard's thread ask it. Inline: the settings
// file code and the bus side use it without the controller's library.

#include <algorithm>
#include <cstdint>
#include <string>

#include "platform/BusContract.h"

namespace morvane {

struct TTravelLimits {
  bool Set = false;  // off: every count is allowed, as before limits existed
  int32_t Lower = 0;
  int32_t Upper = 0;
  bool operator==(const TTravelLimits&) const = default;
};

// Limits that may be set: lower below upper, both within the bus's move range.
inline bool LimitsValid(int64_t lower, int64_t upper) {
  return lower < upper && lower >= -MoveLimit && upper <= MoveLimit;
}

// Why limits are refused ("" when valid).
inline std::string LimitsRefusalText(int64_t lower, int64_t upper) {
  if (lower >= upper)
    return "The lower limit " + std::to_string(lower) + " must lie below the upper limit " +
           std::to_string(upper);
  if (lower < -MoveLimit || upper > MoveLimit)
    return "Travel limits lie within " + std::to_string(-MoveLimit) + " to " +
           std::to_string(MoveLimit);
  return {};
}

// A move to target is refused.
inline bool OutsideLimits(const TTravelLimits& limits, int64_t target) {
  return limits.Set && (target < limits.Lower || target > limits.Upper);
}

// "Target 25000 is outside the travel limits -20000 to 20000".
inline std::string OutsideLimitsText(const TTravelLimits& limits, int64_t target) {
  return "Target " + std::to_string(target) + " is outside the travel limits " +
         std::to_string(limits.Lower) + " to " + std::to_string(limits.Upper);
}

// A coarse run in the direction up (the count rising) at count must stop: it has reached or
// passed the limit it runs towards. A run back inside from beyond a limit goes on.
inline bool RunAtLimit(const TTravelLimits& limits, int32_t count, bool up) {
  if (!limits.Set) return false;
  return up ? count >= limits.Upper : count <= limits.Lower;
}

// "Stopped at 20003: the upper travel limit is 20000".
inline std::string LimitStopText(const TTravelLimits& limits, int32_t count, bool up) {
  return "Stopped at " + std::to_string(count) + ": the " + (up ? "upper" : "lower") +
         " travel limit is " + std::to_string(up ? limits.Upper : limits.Lower);
}

// Find Travel: the limits offered a margin inside the end stops found, so that a run stopped
// at a limit coasts to rest short of the stop: a hundredth of the travel, and at least a run's
// coast and stop factor at the slow rate. Not set when the stops leave no room.
inline TTravelLimits LimitsInsideStops(int32_t lowerStop, int32_t upperStop) {
  if (lowerStop > upperStop) std::swap(lowerStop, upperStop);
  constexpr int64_t LeastMargin = 20;
  const int64_t span = int64_t{upperStop} - lowerStop;
  const int64_t margin = std::max(LeastMargin, span / 100);
  const int64_t lower = int64_t{lowerStop} + margin;
  const int64_t upper = int64_t{upperStop} - margin;
  if (!LimitsValid(lower, upper)) return {};
  return {true, static_cast<int32_t>(lower), static_cast<int32_t>(upper)};
}

}  // namespace morvane
