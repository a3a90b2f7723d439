#pragma once
// Learning temperature compensation's coefficient from focus marks: the least-squares line of
// position against temperature. Its slope is the coefficient as TTempCompRule takes it (a move
// of Coefficient x (T - reference) codes), so the fitted value moves the focuser the way the
// marks went. Pure: no clock, no thread.

#include <cstddef>
#include <cstdint>
#include <span>

namespace morvane {

struct TFocusPoint {
  double Celsius = 0;
  int32_t Position = 0;
};

enum class TFitProblem {
  fpNone,
  fpTooFewPoints,    // fewer than two marks
  fpOneTemperature,  // every mark within OneTemperatureSpan of the others
};

struct TCoefficientFit {
  TFitProblem Problem = TFitProblem::fpTooFewPoints;
  double CodesPerDegree = 0;
  // The standard error of the slope; not known from two points (HasSpread false).
  bool HasSpread = false;
  double Spread = 0;
  size_t Points = 0;
  bool Valid() const { return Problem == TFitProblem::fpNone; }
};

// Marks whose temperatures all lie within this span say nothing about a slope: the module's
// averages of one temperature differ by less.
inline constexpr double OneTemperatureSpan = 0.05;

TCoefficientFit FitCoefficient(std::span<const TFocusPoint> points);

// The operator's words for why there is no fit; "" for a fit.
const char* FitProblemText(TFitProblem p);

}  // namespace morvane
