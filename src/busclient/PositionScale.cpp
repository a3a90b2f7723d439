#include "busclient/PositionScale.h"

namespace morvane {

TClientScale ClientScale(bool limitsSet, int32_t lower, int32_t upper, int64_t scale) {
  if (limitsSet && upper > lower) return {int64_t{upper} - lower, upper, true};
  return {scale, scale, false};
}

}  // namespace morvane
