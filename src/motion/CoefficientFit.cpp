#include "motion/CoefficientFit.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "motion/TempCompRule.h"

namespace morvane {

namespace {

// Marks far from the line the others make: the median of the pairwise slopes and intercepts,
// which one or two wild marks cannot pull, and the marks' median deviation from it.
std::vector<TFocusPoint> WithoutOutliers(const std::vector<TFocusPoint>& marks) {
  std::vector<double> slopes;
  for (size_t i = 0; i < marks.size(); ++i)
    for (size_t j = i + 1; j < marks.size(); ++j)
      if (marks[i].Celsius != marks[j].Celsius)
        slopes.push_back((marks[j].Position - marks[i].Position) /
                         (marks[j].Celsius - marks[i].Celsius));
  if (slopes.empty()) return marks;
  const double slope = TTempCompRule::Median(slopes);
  std::vector<double> intercepts;
  for (const TFocusPoint& m : marks) intercepts.push_back(m.Position - slope * m.Celsius);
  const double intercept = TTempCompRule::Median(intercepts);
  std::vector<double> deviations;
  for (const TFocusPoint& m : marks)
    deviations.push_back(std::abs(m.Position - slope * m.Celsius - intercept));
  const double limit =
      std::max(OutlierDeviations * TTempCompRule::Median(deviations), OutlierFloorCodes);
  std::vector<TFocusPoint> kept;
  for (size_t i = 0; i < marks.size(); ++i)
    if (deviations[i] <= limit) kept.push_back(marks[i]);
  return kept;
}

}  // namespace

TCoefficientFit FitCoefficient(std::span<const TFocusPoint> points) {
  TCoefficientFit fit;
  fit.Points = points.size();
  std::vector<TFocusPoint> marks;
  for (const TFocusPoint& p : points)
    if (TTempCompRule::Plausible(p.Celsius)) marks.push_back(p);
  // With three marks, one far from the others' line cannot be told from the others.
  if (marks.size() > MinFitMarks) marks = WithoutOutliers(marks);
  fit.Dropped = points.size() - marks.size();
  if (marks.size() < MinFitMarks) return fit;
  const auto [low, high] = std::minmax_element(
      marks.begin(), marks.end(),
      [](const TFocusPoint& a, const TFocusPoint& b) { return a.Celsius < b.Celsius; });
  if (high->Celsius - low->Celsius < MinFitSpan) {
    fit.Problem = TFitProblem::fpOneTemperature;
    return fit;
  }
  // About the means, so that counts in the millions lose no digits to the squares.
  const double n = static_cast<double>(marks.size());
  double meanT = 0, meanP = 0;
  for (const TFocusPoint& p : marks) {
    meanT += p.Celsius;
    meanP += p.Position;
  }
  meanT /= n;
  meanP /= n;
  double sxx = 0, sxy = 0;
  for (const TFocusPoint& p : marks) {
    sxx += (p.Celsius - meanT) * (p.Celsius - meanT);
    sxy += (p.Celsius - meanT) * (p.Position - meanP);
  }
  const double slope = sxy / sxx;
  double residuals = 0;
  for (const TFocusPoint& p : marks) {
    const double r = p.Position - meanP - slope * (p.Celsius - meanT);
    residuals += r * r;
  }
  fit.HasSpread = true;
  fit.Spread = std::sqrt(residuals / (n - 2) / sxx);
  // A slope of 0 with no spread is a focus that stays put: a fit, of nothing to compensate.
  if (fit.Spread * MinFitSignificance > std::abs(slope)) {
    fit.Problem = TFitProblem::fpUncertain;
    return fit;
  }
  fit.Problem = TFitProblem::fpNone;
  fit.CodesPerDegree = slope;
  return fit;
}

const char* FitProblemText(TFitProblem p) {
  switch (p) {
    case TFitProblem::fpTooFewPoints:
      return "No fit: mark focus three times at least, at temperatures some degrees apart";
    case TFitProblem::fpOneTemperature:
      return "No fit: the marks span less than 2 °C; mark again once it has changed";
    case TFitProblem::fpUncertain:
      return "No fit: the marks scatter too much for a slope; mark again";
    default:
      return "";
  }
}

}  // namespace morvane
