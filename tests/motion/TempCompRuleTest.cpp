// Temperature compensation's decision, without a clock.
#include <gtest/gtest.h>

#include <cmath>

#include "motion/TempCompRule.h"

namespace morvane::test {
namespace {

using A = TTempCompAction;

TEST(TempCompRuleTest, DecidesAMoveOnlyWhenIdleFreeAndPastTheDeadBand) {
  struct TCase {
    const char* Name;
    bool Valid;
    double Avg, Ref, Coef;
    int32_t Band;
    bool Idle, Held, NoPermit;
    A Action;
    int32_t Codes;
  } cases[] = {
      {"within the band", true, 10.0, 10.2, 10, 5, true, false, false, A::taNone, 0},
      {"just short of the band", true, 10.0, 10.49, 10, 5, true, false, false, A::taNone, 0},
      {"at the band", true, 10.0, 10.5, 10, 5, true, false, false, A::taMove, -5},
      {"cooling, negative coefficient", true, 8.0, 10.0, -12, 5, true, false, false, A::taMove, 24},
      {"warming", true, 12.0, 10.0, 3.5, 5, true, false, false, A::taMove, 7},
      {"zero coefficient", true, 0.0, 20.0, 0, 1, true, false, false, A::taNone, 0},
      {"a band of 0 is 1", true, 10.05, 10.0, 10, 0, true, false, false, A::taNone, 0},
      {"busy", true, 0.0, 10.0, 10, 5, false, false, false, A::taBusy, 0},
      {"held", true, 0.0, 10.0, 10, 5, true, true, false, A::taHeld, 0},
      {"held while busy", true, 0.0, 10.0, 10, 5, false, true, false, A::taHeld, 0},
      {"no permit", true, 0.0, 10.0, 10, 5, true, false, true, A::taNoPermit, 0},
      {"reading failed", false, 0.0, 10.0, 10, 5, true, false, false, A::taReadingFailed, 0},
      {"reading failed while held", false, 0.0, 10.0, 10, 5, true, true, false, A::taReadingFailed,
       0},
      {"not a number", true, NAN, 10.0, 10, 5, true, false, false, A::taReadingFailed, 0},
      {"too cold", true, -50.5, 10.0, 10, 5, true, false, false, A::taOutOfRange, 0},
      {"coldest accepted", true, -50.0, -49.0, 10, 5, true, false, false, A::taMove, -10},
      {"too hot", true, 60.5, 10.0, 10, 5, true, false, false, A::taOutOfRange, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TTempCompInput in;
    in.ReadingValid = c.Valid;
    in.Average = c.Avg;
    in.Reference = c.Ref;
    in.Coefficient = c.Coef;
    in.DeadBand = c.Band;
    in.Idle = c.Idle;
    in.Held = c.Held;
    in.PermitMissing = c.NoPermit;
    const TTempCompDecision d = TTempCompRule::Decide(in);
    EXPECT_EQ(d.Action, c.Action);
    EXPECT_EQ(d.Codes, c.Codes);
    if (d.Action != A::taMove) {
      EXPECT_EQ(d.NewReference, c.Ref);
    }
  }
}

TEST(TempCompRuleTest, FractionsOfACodeAreCarriedIntoTheNextMove) {
  // 7 codes per degree over a slow ramp: the moves add up to the whole drift, to within a
  // code, however the ramp is cut.
  TTempCompInput in;
  in.ReadingValid = in.Idle = true;
  in.Coefficient = 7;
  in.DeadBand = 3;
  in.Reference = 12.0;
  int64_t moved = 0;
  for (int step = 1; step <= 500; ++step) {
    in.Average = 12.0 - step * 0.01;
    const TTempCompDecision d = TTempCompRule::Decide(in);
    if (d.Action == A::taMove) {
      EXPECT_GE(std::abs(d.Codes), 3);
      moved += d.Codes;
      in.Reference = d.NewReference;
    }
  }
  EXPECT_NEAR(double(moved), 7 * (7.0 - 12.0), 3.0);
}

}  // namespace
}  // namespace morvane::test
