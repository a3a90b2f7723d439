// Learning the coefficient from focus marks: the least-squares slope, its spread, the marks
// left out, and the marks that give none.
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
      {"two marks: always a line", {{0, 0}, {10, 100}}, P::fpTooFewPoints, 0, false, 0},
      // Offered 200 codes/degree.
      {"two marks 0.06 apart", {{12.50, 300}, {12.56, 312}}, P::fpTooFewPoints, 0, false, 0},
      // Offered -50 +- 144.
      {"three within 0.1",
       {{12.50, 300}, {12.54, 340}, {12.60, 295}},
       P::fpOneTemperature,
       0,
       false,
       0},
      {"just short of the span",
       {{10, 100}, {11, 94}, {11.99, 88}},
       P::fpOneTemperature,
       0,
       false,
       0},
      {"on a line, cooling moves in", {{10, 100}, {12, 88}, {14, 76}}, P::fpNone, -6, true, 0},
      {"scattered", {{0, 0}, {1, 10}, {2, 40}}, P::fpNone, 20, true, std::sqrt(100.0 / 3)},
      {"in any order, far from zero",
       {{2, 1000040}, {0, 1000000}, {1, 1000010}},
       P::fpNone,
       20,
       true,
       std::sqrt(100.0 / 3)},
      {"scattered about as much as it slopes",
       {{0, 0}, {1, 4}, {2, 2}, {3, 0}, {4, 6}},
       P::fpUncertain,
       0,
       true,
       std::sqrt(20.8 / 30)},
      {"a focus that stays put", {{5, 500}, {10, 500}, {15, 500}}, P::fpNone, 0, true, 0},
      // One garbled 0 degrees among five marks shrank -8.00 to -0.64.
      {"a mark far from the rest",
       {{10, 1000}, {11, 992}, {12, 984}, {0, 990}, {13, 976}, {14, 968}},
       P::fpNone,
       -8,
       true,
       0},
      {"a mark out of range",
       {{10, 1000}, {11, 992}, {400, 984}, {13, 976}},
       P::fpNone,
       -8,
       true,
       0},
      {"out of range leaves too few",
       {{10, 1000}, {-99, 992}, {13, 976}},
       P::fpTooFewPoints,
       0,
       false,
       0},
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
    if (!fit.Valid()) {
      EXPECT_EQ(fit.CodesPerDegree, 0) << "nothing for Use It to take";
    }
  }
}

// The fitted value, used as the coefficient, moves the focuser from one mark's focus to the
// other's as the temperature goes from one to the other.
TEST(CoefficientFitTest, TheFittedValueMovesTheWayTheMarksWent) {
  const std::vector<TFocusPoint> marks = {{15.0, 1200}, {10.0, 1240}, {5.0, 1280}};
  const TCoefficientFit fit = FitCoefficient(marks);
  ASSERT_TRUE(fit.Valid());
  TTempCompInput in;
  in.ReadingValid = true;
  in.Idle = true;
  in.Reference = 15.0;
  in.Average = 5.0;
  in.Coefficient = fit.CodesPerDegree;
  in.DeadBand = 20;  // one tick moves up to four dead bands: the whole way here
  const TTempCompDecision d = TTempCompRule::Decide(in);
  EXPECT_EQ(d.Action, TTempCompAction::taMove);
  EXPECT_EQ(d.Codes, 1280 - 1200);
}

}  // namespace
}  // namespace morvane::test
