#pragma once
// A client's number for a move, a timed run or the maximum, checked once before anything
// acts on it, and the one mapping between Morvane's count and INDI's position.
//
// INDI's clients take "in" as the falling absolute position; Morvane's In raises its count.
// So the position INDI shows is the client scale's top count minus the count
// (busclient/Follower.h): without travel limits INDI's 0 is the count FOCUS_MAX and FOCUS_MAX
// the count 0; with limits FOCUS_MAX is their span and 0 the upper limit. Focus In (relative,
// absolute or timed) is Morvane's In.

#include <cstdint>
#include <optional>
#include <string>

#include "busclient/PositionScale.h"
#include "platform/BusContract.h"

namespace morvane {

// The numbers a client may send (FOCUS_MAX's bounds are INDI's own).
inline constexpr double FocusMaxLowest = 1e3;
inline constexpr double FocusMaxHighest = 1e6;
inline constexpr double TimerLongestMs = 60000;

// The last three are TEMP_COEFFICIENT's elements: Morvane's temperature compensation settings,
// in its own ranges.
enum class TRequestProperty { Absolute, Relative, Timer, Max, Coefficient, DeadBand, Samples };

struct TRequestView {
  int32_t Count = 0;     // Morvane's count now
  int64_t FocusMax = 0;  // as set
  bool Inward = true;    // FOCUS_MOTION
  // The count at INDI's 0: the upper travel limit while limits are set; otherwise FocusMax.
  std::optional<int64_t> TopCount = std::nullopt;
  TClientScale Scale() const {
    return {FocusMax, TopCount.value_or(FocusMax), TopCount.has_value()};
  }
};

struct TFocuserRequest {
  bool Ok = false;
  std::string Error;          // why it is refused
  int64_t TargetCount = 0;    // Absolute, Relative: the count to move to
  uint32_t Milliseconds = 0;  // Timer: 0 runs until aborted
  uint32_t FocusMax = 0;      // Max
  double Setting = 0;         // Coefficient; DeadBand and Samples rounded to whole codes
};

// Refuses a value that is not a finite number within its property's range; nothing is cut to
// fit a narrower type.
TFocuserRequest CheckRequest(TRequestProperty property, double value, const TRequestView& view);

}  // namespace morvane
