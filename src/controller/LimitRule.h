#pragma once
// Travel limits: a lower and an upper count the focuser is kept between. A move to a target
// outside them is refused; a coarse run going out past one is stopped there. Pure: no clock,
// no thread. The counting thread and the stall guard's thread ask it.

#include <cstdint>
#include <string>

namespace morvane {

struct TTravelLimits {
  bool Set = false;  // off: every count is allowed, as before limits existed
  int32_t Lower = 0;
  int32_t Upper = 0;
  bool operator==(const TTravelLimits&) const = default;
};

// Limits that may be set: lower below upper, both within the bus's move range.
bool LimitsValid(int64_t lower, int64_t upper);
// Why limits are refused ("" when valid).
std::string LimitsRefusalText(int64_t lower, int64_t upper);

// A move to target is refused.
bool OutsideLimits(const TTravelLimits& limits, int64_t target);
// "Target 25000 is outside the travel limits -20000 to 20000".
std::string OutsideLimitsText(const TTravelLimits& limits, int64_t target);

// A coarse run in the direction up (the count rising) at count must stop: it has reached or
// passed the limit it runs towards. A run back inside from beyond a limit goes on.
bool RunAtLimit(const TTravelLimits& limits, int32_t count, bool up);
// "Stopped at 20003: the upper travel limit is 20000".
std::string LimitStopText(const TTravelLimits& limits, int32_t count, bool up);

// Find Travel: the limits offered a margin inside the end stops found, so that a run stopped
// at a limit coasts to rest short of the stop. Not set when the stops leave no room.
TTravelLimits LimitsInsideStops(int32_t lowerStop, int32_t upperStop);

}  // namespace morvane
