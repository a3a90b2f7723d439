// Learning the coefficient from focus marks: the least-squares slope, its spread, and the
// marks that give none.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "motion/CoefficientFit.h"
#include "motion/TempCompRule.h"

namespace morvane::test {
namespace {

using P = TFitProblem;

TEST(CoefficientFitTest, FitsTheSlopeAndItsSpreadOrSaysWhyNot) {
  struct TCase {
    const char* Name;
    std::vector<TFocusPoint> Points;
    P Problem;
    double Slope;
    bool HasSpread;
    double Spread;
  } cases[] = {
      {"no marks", {}, P::fpTooFewPoints, 0, false, 0},
      {"one mark", {{12.5, 300}}, P::fpTooFewPoints, 0, false, 0},
      {"two at one temperature", {{12.5, 300}, {12.5, 340}}, P::fpOneTemperature, 0, false, 0},
      {"within the span",
       {{12.50, 300}, {12.54, 340}, {12.52, 310}},
       P::fpOneTemperature,
       0,
       false,
       0},
      {"just past the span", {{12.50, 300}, {12.56, 306}}, P::fpNone, 100, false, 0},
      {"two points: no spread", {{0, 0}, {10, 100}}, P::fpNone, 10, false, 0},
      {"on a line, cooling moves in", {{10, 100}, {12, 88}, {14, 76}}, P::fpNone, -6, true, 0},
      {"scattered", {{0, 0}, {1, 1}, {2, 4}}, P::fpNone, 2, true, std::sqrt(1.0 / 3)},
      {"in any order, far from zero",
       {{2, 1000004}, {0, 1000000}, {1, 1000001}},
       P::fpNone,
       2,
       true,
       std::sqrt(1.0 / 3)},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TCoefficientFit fit = FitCoefficient(c.Points);
    EXPECT_EQ(fit.Problem, c.Problem);
    EXPECT_EQ(fit.Valid(), c.Problem == P::fpNone);
    EXPECT_EQ(fit.Points, c.Points.size());
    EXPECT_NEAR(fit.CodesPerDegree, c.Slope, 1e-6);
    EXPECT_EQ(fit.HasSpread, c.HasSpread);
    EXPECT_NEAR(fit.Spread, c.Spread, 1e-9);
    EXPECT_EQ(*FitProblemText(fit.Problem) == '\0', fit.Valid());
  }
}

// The fitted value, used as the coefficient, moves the focuser from one mark's focus to the
// other's as the temperature goes from one to the other.
TEST(CoefficientFitTest, TheFittedValueMovesTheWayTheMarksWent) {
  const std::vector<TFocusPoint> marks = {{15.0, 1200}, {5.0, 1280}};
  const TCoefficientFit fit = FitCoefficient(marks);
  ASSERT_TRUE(fit.Valid());
  TTempCompInput in;
  in.ReadingValid = true;
  in.Idle = true;
  in.Reference = 15.0;
  in.Average = 5.0;
  in.Coefficient = fit.CodesPerDegree;
  in.DeadBand = 1;
  const TTempCompDecision d = TTempCompRule::Decide(in);
  EXPECT_EQ(d.Action, TTempCompAction::taMove);
  EXPECT_EQ(d.Codes, 1280 - 1200);
}

}  // namespace
}  // namespace morvane::test
