// The final-approach decision of backlash compensation, without a clock.
#include <gtest/gtest.h>

#include <climits>

#include "motion/ApproachRule.h"

namespace morvane::test {
namespace {

TEST(ApproachRuleTest, DecidesTheLegsOfEveryMove) {
  struct TCase {
    int32_t Mode, Codes, From, Target;
    bool TwoLegs;
    int32_t First;
  } cases[] = {
      // Off, by mode or by no codes, or an unknown mode: one leg always.
      {0, 20, 100, 0, false, 0},
      {1, 0, 100, 0, false, 0},
      {3, 20, 100, 0, false, 0},
      {-1, 20, 100, 0, false, 0},
      // Inward: a move ending with the count falling goes below and comes back up; one rising
      // stops short first unless it starts on the final approach.
      {1, 20, 100, 0, true, -20},
      {1, 20, 1, 0, true, -20},
      {1, 20, 0, 100, true, 80},
      {1, 20, 79, 100, true, 80},
      {1, 20, 80, 100, false, 0},
      {1, 20, 99, 100, false, 0},
      {1, 20, 5, 5, false, 0},
      // Outward: the mirror.
      {2, 20, 0, 100, true, 120},
      {2, 20, -1, 0, true, 20},
      {2, 20, 100, 0, true, 20},
      {2, 20, 21, 0, true, 20},
      {2, 20, 20, 0, false, 0},
      {2, 20, 1, 0, false, 0},
      // At the ends of the count's range the first leg goes only as far as the range.
      {1, 20, 0, INT32_MIN + 5, true, INT32_MIN},
      {1, 20, INT32_MIN + 1, INT32_MIN + 5, false, 0},
      {2, 20, 0, INT32_MAX - 5, true, INT32_MAX},
      {2, 20, 0, INT32_MAX, false, 0},
      {1, 20, 0, INT32_MIN, false, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.Mode << " " << c.Codes << " " << c.From << "->" << c.Target);
    const TApproachPlan p = TApproachRule::FromSettings(c.Mode, c.Codes).Plan(c.From, c.Target);
    EXPECT_EQ(p.TwoLegs, c.TwoLegs);
    if (c.TwoLegs) {
      EXPECT_EQ(p.FirstTarget, c.First);
    }
  }
}

TEST(ApproachRuleTest, KeepsTheFirstLegInsideTheTravelLimits) {
  const TTravelLimits limits{true, -1000, 1000};
  struct TCase {
    int32_t Mode, Codes, From, Target;
    bool TwoLegs;
    int32_t First;
  } cases[] = {
      // Inside, away from the limits: as without them.
      {1, 30, 500, 0, true, -30},
      {2, 30, -500, 0, true, 30},
      // A target at a limit leaves no room for an approach from beyond it.
      {1, 30, 500, -1000, false, 0},
      {2, 30, -500, 1000, false, 0},
      {1, 30, -1000, -1000, false, 0},
      // Near a limit the first leg turns round at it rather than crossing it.
      {1, 30, 500, -990, true, -1000},
      {2, 30, -500, 990, true, 1000},
      // From the lower limit upward, inward: the final approach starts there already.
      {1, 30, -1000, -980, false, 0},
      // Outward from the lower limit to just above it: the first leg goes up past the target.
      {2, 30, -1000, -990, true, -960},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.Mode << " " << c.Codes << " " << c.From << "->" << c.Target);
    const TApproachPlan p =
        TApproachRule::FromSettings(c.Mode, c.Codes).Plan(c.From, c.Target, limits);
    EXPECT_EQ(p.TwoLegs, c.TwoLegs);
    if (c.TwoLegs) {
      EXPECT_EQ(p.FirstTarget, c.First);
    }
    if (p.TwoLegs) {
      EXPECT_GE(p.FirstTarget, limits.Lower);
      EXPECT_LE(p.FirstTarget, limits.Upper);
    }
  }
}

}  // namespace
}  // namespace morvane::test
