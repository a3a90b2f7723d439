#pragma once
// Learning temperature compensation's coefficient from focus marks: the least-squares line of
// position against temperature. Its slope is the coefficient as TTempCompRule takes it (a move
// of Coefficient x (T - reference) codes), so the fitted value moves the focuser the way the
// marks went. Marks that cannot be the tube's (a garbled reading) are left out first; a fit
// the marks do not pin down is refused rather than offered. Pure: no clock, no thread.

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
  fpTooFewPoints,    // fewer than MinFitMarks usable marks
  fpOneTemperature,  // the marks span less than MinFitSpan
  fpUncertain,       // the slope's standard error is comparable to the slope
};

struct TCoefficientFit {
  TFitProblem Problem = TFitProblem::fpTooFewPoints;
  double CodesPerDegree = 0;
  // The standard error of the slope; not known from two points (HasSpread false).
  bool HasSpread = false;
  double Spread = 0;
  size_t Points = 0;   // the marks given
  size_t Dropped = 0;  // left out: out of range, or far from the line the rest make
  bool Valid() const { return Problem == TFitProblem::fpNone; }
};

// Three marks at least: two always lie on a line, so they give no spread to judge the fit by.
inline constexpr size_t MinFitMarks = 3;
// The module reads tenths of a degree and its averages wander by a few: over less than two
// degrees that wander alone moves the slope by tens of percent.
inline constexpr double MinFitSpan = 2.0;
// A slope is offered only when it is this many standard errors from zero.
inline constexpr double MinFitSignificance = 3.0;
// A mark whose position lies this many times the marks' median deviation from the robust line
// (and more than OutlierFloorCodes) is a reading gone wrong, not focus.
inline constexpr double OutlierDeviations = 5.0;
inline constexpr double OutlierFloorCodes = 10.0;

TCoefficientFit FitCoefficient(std::span<const TFocusPoint> points);

// The operator's words for why there is no fit; "" for a fit.
const char* FitProblemText(TFitProblem p);

}  // namespace morvane
