#include "indi_morvane_focus/FocuserRequest.h"

#include <cmath>
#include <cstdio>

namespace morvane {

namespace {

TFocuserRequest Refused(const char* format, double value, double low, double high) {
  char text[200];
  std::snprintf(text, sizeof text, format, value, low, high);
  TFocuserRequest r;
  r.Error = text;
  return r;
}

bool Within(double value, double low, double high) {
  return std::isfinite(value) && value >= low && value <= high;  // false for NaN
}

}  // namespace

TFocuserRequest CheckRequest(TRequestProperty property, double value, const TRequestView& view) {
  const auto max = static_cast<double>(view.FocusMax);
  TFocuserRequest r;
  switch (property) {
    case TRequestProperty::Absolute:
      if (!Within(value, 0, max))
        return Refused(
            "Position %.10g is refused: it must lie from %.10g to %.10g (the maximum is "
            "set in Max. Position).",
            value, 0, max);
      r.TargetCount = CountAt(std::llround(value), view.Scale());
      break;
    case TRequestProperty::Relative: {
      if (!Within(value, 1, max))
        return Refused("A relative move of %.10g steps is refused: it takes %.10g to %.10g steps.",
                       value, 1, max);
      const int64_t steps = std::llround(value);
      const int64_t target =
          ClientPosition(view.Count, view.Scale()) + (view.Inward ? -steps : steps);
      if (target < 0 || target > view.FocusMax)
        return Refused("A relative move to %.10g is refused: positions lie from %.10g to %.10g.",
                       static_cast<double>(target), 0, max);
      r.TargetCount = CountAt(target, view.Scale());
      break;
    }
    case TRequestProperty::Timer:
      if (!Within(value, 0, TimerLongestMs))
        return Refused(
            "A timer of %.10g ms is refused: it takes %.10g to %.10g ms (0 runs until Abort).",
            value, 0, TimerLongestMs);
      r.Milliseconds = static_cast<uint32_t>(std::llround(value));
      break;
    case TRequestProperty::Max:
      if (!Within(value, FocusMaxLowest, FocusMaxHighest))
        return Refused("A maximum position of %.10g is refused: it takes %.10g to %.10g.", value,
                       FocusMaxLowest, FocusMaxHighest);
      r.FocusMax = static_cast<uint32_t>(std::llround(value));
      break;
    case TRequestProperty::Coefficient:
      if (!Within(value, -MostCompensationCoefficient, MostCompensationCoefficient))
        return Refused(
            "A coefficient of %.10g codes per degree is refused: it takes %.10g to %.10g.", value,
            -MostCompensationCoefficient, MostCompensationCoefficient);
      r.Setting = value;
      break;
    case TRequestProperty::DeadBand:
    case TRequestProperty::Samples: {
      const bool band = property == TRequestProperty::DeadBand;
      const double most = band ? MostCompensationCodes : MostCompensationSamples;
      if (!Within(value, 1, most))
        return Refused(band ? "A dead band of %.10g codes is refused: it takes %.10g to %.10g."
                            : "Averaging %.10g readings is refused: it takes %.10g to %.10g.",
                       value, 1, most);
      r.Setting = static_cast<double>(std::llround(value));
      break;
    }
  }
  r.Ok = true;
  return r;
}

}  // namespace morvane
