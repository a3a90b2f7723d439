// Temperature compensation's decision, without a clock.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

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
      {"cooling, negative coefficient", true, 8.0, 10.0, -12, 6, true, false, false, A::taMove, 24},
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
      // A reference no tube has: nothing moves (it moved 700 and INT32_MIN codes).
      {"reference of 100", true, 12.5, 100.0, 8, 5, true, false, false, A::taNone, 0},
      {"reference far out", true, 12.5, 99999999999.0, 8, 5, true, false, false, A::taNone, 0},
      {"reference not a number", true, 12.5, NAN, 8, 5, true, false, false, A::taNone, 0},
      // At most four dead bands a tick, whatever the drift.
      {"large drift bounded", true, 0.0, 10.0, 10, 5, true, false, false, A::taMove, -20},
      {"huge coefficient bounded", true, 60.0, -50.0, 1e12, 5, true, false, false, A::taMove,
       4 * 1000001},
      {"just under the bound", true, 8.0, 10.0, -9.5, 5, true, false, false, A::taMove, 19},
      // A dead band under the coefficient times 0.1 degree is raised past it.
      {"flicker within the raised band", true, 10.1, 10.0, 86, 2, true, false, false, A::taNone, 0},
      {"two digits past the raised band", true, 10.2, 10.0, 86, 2, true, false, false, A::taMove,
       17},
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
    if (d.Action != A::taMove && !std::isnan(c.Ref)) {
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

TEST(TempCompRuleTest, AReadingNoTubeCouldGiveIsNotTaken) {
  using V = TReadingVerdict;
  const std::optional<double> none;
  struct TCase {
    const char* Name;
    double Celsius;
    std::optional<double> Last, Unconfirmed;
    V Verdict;
  } cases[] = {
      {"first reading", 12.5, none, none, V::rvTaken},
      {"first reading out of range", 400.0, none, none, V::rvOutOfRange},
      {"a garbled 400.0", 400.0, 12.5, none, V::rvOutOfRange},
      {"too cold", -50.1, 12.5, none, V::rvOutOfRange},
      {"not a number", NAN, 12.5, none, V::rvOutOfRange},
      {"a steady step", 12.0, 12.5, none, V::rvTaken},
      {"two degrees: still a tube", 10.5, 12.5, none, V::rvTaken},
      {"a garbled 000.0", 0.0, 12.5, none, V::rvJump},
      {"back after the garbled one", 12.4, 12.5, 0.0, V::rvTaken},
      {"a real jump confirmed", 5.1, 12.5, 5.0, V::rvTaken},
      {"two garbled readings that disagree", 30.0, 12.5, 0.0, V::rvJump},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(TTempCompRule::CheckReading(c.Celsius, c.Last, c.Unconfirmed), c.Verdict);
  }
}

TEST(TempCompRuleTest, TheMedianIgnoresOneWildSample) {
  struct TCase {
    const char* Name;
    std::vector<double> Samples;
    double Median;
  } cases[] = {
      {"none", {}, 0},
      {"one", {12.5}, 12.5},
      {"two: their mean", {12.5, 12.6}, 12.55},
      {"odd, unsorted", {12.7, 12.5, 12.6}, 12.6},
      // Nine of 12.5 and one 400.0: the mean was 51.25.
      {"one wild among ten", {12.5, 12.5, 12.5, 12.5, 400, 12.5, 12.5, 12.5, 12.5, 12.5}, 12.5},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_DOUBLE_EQ(TTempCompRule::Median(c.Samples), c.Median);
  }
}

TEST(TempCompRuleTest, TheDeadBandExceedsOneDigitsFlicker) {
  struct TCase {
    double Coefficient;
    int32_t Band, Effective;
  } cases[] = {
      {-6, 4, 4},   {10, 0, 2},     {10, 5, 5},  {86, 2, 9},          {-86, 2, 9},
      {86, 20, 20}, {1e4, 1, 1001}, {NAN, 3, 3}, {1e300, 1, 1000001},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Coefficient);
    EXPECT_EQ(TTempCompRule::EffectiveDeadBand(c.Coefficient, c.Band), c.Effective);
  }
  // A reading flickering by one digit around a steady 10.05 degrees: no move at all.
  TTempCompInput in;
  in.ReadingValid = in.Idle = true;
  in.Coefficient = 86;
  in.DeadBand = 2;
  in.Reference = 10.0;
  int moves = 0;
  for (int tick = 0; tick < 20; ++tick) {
    in.Average = tick % 2 ? 10.1 : 10.0;
    const TTempCompDecision d = TTempCompRule::Decide(in);
    if (d.Action == A::taMove) {
      ++moves;
      in.Reference = d.NewReference;
    }
  }
  EXPECT_EQ(moves, 0);
}

}  // namespace
}  // namespace morvane::test
