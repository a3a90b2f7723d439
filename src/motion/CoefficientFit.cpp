#include "motion/CoefficientFit.h"

#include <algorithm>
#include <cmath>

namespace morvane {

TCoefficientFit FitCoefficient(std::span<const TFocusPoint> points) {
  TCoefficientFit fit;
  fit.Points = points.size();
  if (points.size() < 2) return fit;
  const auto [low, high] = std::minmax_element(
      points.begin(), points.end(),
      [](const TFocusPoint& a, const TFocusPoint& b) { return a.Celsius < b.Celsius; });
  if (high->Celsius - low->Celsius < OneTemperatureSpan) {
    fit.Problem = TFitProblem::fpOneTemperature;
    return fit;
  }
  // About the means, so that counts in the millions lose no digits to the squares.
  const double n = static_cast<double>(points.size());
  double meanT = 0, meanP = 0;
  for (const TFocusPoint& p : points) {
    meanT += p.Celsius;
    meanP += p.Position;
  }
  meanT /= n;
  meanP /= n;
  double sxx = 0, sxy = 0;
  for (const TFocusPoint& p : points) {
    sxx += (p.Celsius - meanT) * (p.Celsius - meanT);
    sxy += (p.Celsius - meanT) * (p.Position - meanP);
  }
  fit.Problem = TFitProblem::fpNone;
  fit.CodesPerDegree = sxy / sxx;
  if (points.size() > 2) {
    double residuals = 0;
    for (const TFocusPoint& p : points) {
      const double r = p.Position - meanP - fit.CodesPerDegree * (p.Celsius - meanT);
      residuals += r * r;
    }
    fit.HasSpread = true;
    fit.Spread = std::sqrt(residuals / (n - 2) / sxx);
  }
  return fit;
}

const char* FitProblemText(TFitProblem p) {
  switch (p) {
    case TFitProblem::fpTooFewPoints:
      return "No fit: mark focus at two temperatures at least";
    case TFitProblem::fpOneTemperature:
      return "No fit: every mark is at one temperature; mark again once it has changed";
    default:
      return "";
  }
}

}  // namespace morvane
