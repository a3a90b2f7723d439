#pragma once
// The final approach of a move by or to a count: the gear play between the encoder and the
// draw tube leaves the tube at a different place for the same count depending on the last
// direction, so every move ends with a short final approach from one side: a move that would
// end in the other direction goes past its target by Codes and comes back; one in the chosen
// direction first stops Codes short, so that no run coasting past the target turns the last
// nudges round. Pure: no clock, no thread.

#include <cstdint>

#include "controller/LimitRule.h"

namespace morvane {

enum class TApproachMode : int32_t {
  amOff = 0,
  amInward = 1,   // the last leg raises the count ("in")
  amOutward = 2,  // the last leg lowers the count ("out")
};

struct TApproachPlan {
  bool TwoLegs = false;  // the first leg goes to FirstTarget, the last to the target
  int32_t FirstTarget = 0;
};

class TApproachRule {
 public:
  TApproachMode Mode = TApproachMode::amOff;
  // The final approach's length: how far past (or short of) the target the first leg goes;
  // 0 or less: off. Below the stop factor + 2 the final approach is nudged, never run.
  int32_t Codes = 0;

  bool Active() const { return Mode != TApproachMode::amOff && Codes > 0; }
  // Mode and Codes from their stored numbers: an unknown mode is off, negative codes 0.
  static TApproachRule FromSettings(int32_t mode, int32_t codes);
  // The legs of a move from the count From to Target. With travel limits set the first leg
  // stays inside them: it turns round at the limit, and none is left when the target is there.
  TApproachPlan Plan(int32_t From, int32_t Target, const TTravelLimits& limits = {}) const;
};

}  // namespace morvane
