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

}  // namespace
}  // namespace morvane::test
