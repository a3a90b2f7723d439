#include "controller/LimitRule.h"

#include <algorithm>

#include "platform/BusContract.h"

namespace morvane {

namespace {
std::string Range(const TTravelLimits& limits) {
  return std::to_string(limits.Lower) + " to " + std::to_string(limits.Upper);
}
}  // namespace

bool LimitsValid(int64_t lower, int64_t upper) {
  return lower < upper && lower >= -MoveLimit && upper <= MoveLimit;
}

std::string LimitsRefusalText(int64_t lower, int64_t upper) {
  if (lower >= upper)
    return "The lower limit " + std::to_string(lower) + " must lie below the upper limit " +
           std::to_string(upper);
  if (lower < -MoveLimit || upper > MoveLimit)
    return "Travel limits lie within " + std::to_string(-MoveLimit) + " to " +
           std::to_string(MoveLimit);
  return {};
}

bool OutsideLimits(const TTravelLimits& limits, int64_t target) {
  return limits.Set && (target < limits.Lower || target > limits.Upper);
}

std::string OutsideLimitsText(const TTravelLimits& limits, int64_t target) {
  return "Target " + std::to_string(target) + " is outside the travel limits " + Range(limits);
}

bool RunAtLimit(const TTravelLimits& limits, int32_t count, bool up) {
  if (!limits.Set) return false;
  return up ? count >= limits.Upper : count <= limits.Lower;
}

std::string LimitStopText(const TTravelLimits& limits, int32_t count, bool up) {
  return "Stopped at " + std::to_string(count) + ": the " + (up ? "upper" : "lower") +
         " travel limit is " + std::to_string(up ? limits.Upper : limits.Lower);
}

TTravelLimits LimitsInsideStops(int32_t lowerStop, int32_t upperStop) {
  if (lowerStop > upperStop) std::swap(lowerStop, upperStop);
  // A hundredth of the travel, and at least a run's coast and stop factor at the slow rate.
  constexpr int64_t LeastMargin = 20;
  const int64_t span = int64_t{upperStop} - lowerStop;
  const int64_t margin = std::max(LeastMargin, span / 100);
  const int64_t lower = int64_t{lowerStop} + margin;
  const int64_t upper = int64_t{upperStop} - margin;
  if (!LimitsValid(lower, upper)) return {};
  return {true, static_cast<int32_t>(lower), static_cast<int32_t>(upper)};
}

}  // namespace morvane
