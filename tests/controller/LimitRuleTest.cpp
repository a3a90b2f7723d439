// The travel limits' decisions, without a clock: refused targets, runs stopped at a limit,
// which limits may be set, and the limits Find Travel offers.
#include <gtest/gtest.h>

#include "controller/LimitRule.h"
#include "platform/BusContract.h"

namespace morvane::test {
namespace {

TEST(LimitRuleTest, RefusesTargetsAndStopsRunsAtTheLimits) {
  const TTravelLimits off{};
  const TTravelLimits on{true, -100, 200};
  struct TCase {
    const char* What;
    TTravelLimits Limits;
    int64_t Target;
    bool Outside;
    bool UpStops, DownStops;  // a run from the count Target
  } cases[] = {
      {"off: anything", off, 5'000'000, false, false, false},
      {"off: below zero", off, -5'000'000, false, false, false},
      {"inside", on, 0, false, false, false},
      {"at the lower limit", on, -100, false, false, true},
      {"at the upper limit", on, 200, false, true, false},
      {"one below", on, -101, true, false, true},
      {"one above", on, 201, true, true, false},
      // A run from beyond a limit back inside goes on.
      {"far above", on, 5000, true, true, false},
      {"far below", on, -5000, true, false, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    EXPECT_EQ(OutsideLimits(c.Limits, c.Target), c.Outside);
    const auto count = static_cast<int32_t>(c.Target);
    EXPECT_EQ(RunAtLimit(c.Limits, count, true), c.UpStops);
    EXPECT_EQ(RunAtLimit(c.Limits, count, false), c.DownStops);
  }
  EXPECT_EQ(OutsideLimitsText(on, 250), "Target 250 is outside the travel limits -100 to 200");
  EXPECT_EQ(LimitStopText(on, 203, true), "Stopped at 203: the upper travel limit is 200");
  EXPECT_EQ(LimitStopText(on, -104, false), "Stopped at -104: the lower travel limit is -100");
}

TEST(LimitRuleTest, TakesOnlyLimitsWithRoomBetweenThem) {
  struct TCase {
    int64_t Lower, Upper;
    bool Valid;
  } cases[] = {
      {-100, 200, true},
      {199, 200, true},
      {200, 200, false},
      {201, 200, false},
      {-MoveLimit, MoveLimit, true},
      {-MoveLimit - 1, 0, false},
      {0, MoveLimit + 1, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Lower << " " << c.Upper);
    EXPECT_EQ(LimitsValid(c.Lower, c.Upper), c.Valid);
    EXPECT_EQ(LimitsRefusalText(c.Lower, c.Upper).empty(), c.Valid);
  }
}

TEST(LimitRuleTest, OffersLimitsAMarginInsideTheStops) {
  struct TCase {
    int32_t LowerStop, UpperStop;
    TTravelLimits Limits;
  } cases[] = {
      // A hundredth of the travel inside each stop.
      {-20480, 20480, {true, -20071, 20071}},
      {20480, -20480, {true, -20071, 20071}},
      // At least 20 codes on a short travel.
      {0, 1000, {true, 20, 980}},
      // No room left between them: none offered.
      {0, 40, {}},
      {5, 5, {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.LowerStop << " " << c.UpperStop);
    EXPECT_EQ(LimitsInsideStops(c.LowerStop, c.UpperStop), c.Limits);
  }
}

}  // namespace
}  // namespace morvane::test
