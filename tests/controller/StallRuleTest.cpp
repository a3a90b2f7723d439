// The stall guard's decision, without a clock: drives, pulses, pauses and reversals on the
// simulator's motor models, and the fault's text.
#include <gtest/gtest.h>

#include <cmath>

#include "controller/StallRule.h"
#include "sim/SimModels.h"

namespace morvane::test {
namespace {

constexpr int64_t Ms = 1000;

TStallParams Factory() {
  return TStallParams{};
}

TEST(StallRuleTest, JudgesEveryDrive) {
  // Factory: floor 500 ms, 250 ms allowed before the first change, 16 intervals.
  struct TCase {
    const char* What;
    double CodesPerSecond;
    TStallInput In;
    bool Stalled;
    int64_t CheckAt;  // ms; -1 never
  } cases[] = {
      {"no drive", 300, {false, false, 9000 * Ms, 0, 0, 0, 0}, false, -1},
      {"paused", 300, {true, true, 9000 * Ms, 0, 0, 0, 0}, false, -1},
      // From the drive's start the motor may spin up and break away first.
      {"spinning up", 300, {true, false, 749 * Ms, 0, 0, 0, 0}, false, 750},
      {"never turned", 300, {true, false, 750 * Ms, 0, 0, 0, 0}, true, 750},
      {"change before the drive",
       300,
       {true, false, 750 * Ms, 100 * Ms, 0, 50 * Ms, 3 * Ms},
       false,
       850},
      // Once turning, the floor counts from the last change.
      {"turning", 300, {true, false, 1000 * Ms, 0, 0, 900 * Ms, 3 * Ms}, false, 1400},
      {"stopped turning", 300, {true, false, 1400 * Ms, 0, 0, 900 * Ms, 3 * Ms}, true, 1400},
      // The first change after a rest: the rest is no interval of this drive.
      {"first change",
       300,
       {true, false, 1000 * Ms, 400 * Ms, 0, 900 * Ms, 60000 * Ms},
       false,
       1400},
      {"first change, then nothing",
       300,
       {true, false, 1400 * Ms, 400 * Ms, 0, 900 * Ms, 60000 * Ms},
       true,
       1400},
      // A motor seen to turn slowly is allowed 16 of its own intervals.
      {"slow motor", 300, {true, false, 1500 * Ms, 0, 0, 900 * Ms, 50 * Ms}, false, 1700},
      {"slow motor stalled", 300, {true, false, 1700 * Ms, 0, 0, 900 * Ms, 50 * Ms}, true, 1700},
      // A commanded speed slower than the floor allows sets the limit before any change.
      {"slow rate", 20, {true, false, 1000 * Ms, 0, 0, 0, 0}, false, 1050},
      // A nudge pulse: drive on for 15 ms, far inside the allowance.
      {"pulse", 300, {true, false, 5015 * Ms, 5000 * Ms, 0, 4000 * Ms, 3 * Ms}, false, 5750},
      // A pause ended: the motor spins up again from then.
      {"resumed", 300, {true, false, 3000 * Ms, 0, 2800 * Ms, 900 * Ms, 3 * Ms}, false, 3550},
      {"resumed, never turned",
       300,
       {true, false, 3550 * Ms, 0, 2800 * Ms, 900 * Ms, 3 * Ms},
       true,
       3550},
      {"resumed and turning",
       300,
       {true, false, 3550 * Ms, 0, 2800 * Ms, 3400 * Ms, 3 * Ms},
       false,
       3900},
      // A reversal is a new drive: the play and the spin-up are allowed again.
      {"reversed", 300, {true, false, 2400 * Ms, 2000 * Ms, 0, 1990 * Ms, 3 * Ms}, false, 2750},
      {"reversed, never turned",
       300,
       {true, false, 2750 * Ms, 2000 * Ms, 0, 1990 * Ms, 3 * Ms},
       true,
       2750},
      // However slowly it was seen to turn, ten seconds without a change is a stall.
      {"crawling", 300, {true, false, 19000 * Ms, 0, 0, 9000 * Ms, 5000 * Ms}, true, 19000},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TStallParams p = Factory();
    p.CodesPerSecond = c.CodesPerSecond;
    const TStallVerdict v = TStallRule(p).Judge(c.In);
    EXPECT_EQ(v.Stalled, c.Stalled);
    EXPECT_EQ(v.CheckAtUs, c.CheckAt < 0 ? TStallVerdict::Never : c.CheckAt * Ms);
  }
}

// The counting thread kept from the processor: the count stands still, but the port's line
// counters moved on; that shows the motor turning, from when the guard saw it.
TEST(StallRuleTest, CountersMovedOnAreATurningMotor) {
  struct TCase {
    const char* What;
    TStallInput In;
    bool Stalled;
    int64_t CheckAt;  // ms
  } cases[] = {
      {"starved, counters moved",
       {true, false, 1400 * Ms, 0, 0, 900 * Ms, 3 * Ms, 1400 * Ms},
       false,
       1900},
      {"starved, counters moved, then nothing",
       {true, false, 1900 * Ms, 0, 0, 900 * Ms, 3 * Ms, 1400 * Ms},
       true,
       1900},
      // Counted changes later than the counters' move count from themselves.
      {"counted again", {true, false, 1400 * Ms, 0, 0, 1300 * Ms, 3 * Ms, 1000 * Ms}, false, 1800},
      // Before the first counted change: the counters show the motor has started.
      {"starved from the start", {true, false, 750 * Ms, 0, 0, 0, 0, 750 * Ms}, false, 1250},
      // A move of the counters before this drive says nothing of it.
      {"moved before the drive",
       {true, false, 2750 * Ms, 2000 * Ms, 0, 1990 * Ms, 3 * Ms, 1995 * Ms},
       true,
       2750},
      {"moved during a pause",
       {true, false, 3550 * Ms, 0, 2800 * Ms, 900 * Ms, 3 * Ms, 2700 * Ms},
       true,
       3550},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TStallParams p = Factory();
    p.CodesPerSecond = 300;
    const TStallVerdict v = TStallRule(p).Judge(c.In);
    EXPECT_EQ(v.Stalled, c.Stalled);
    EXPECT_EQ(v.CheckAtUs, c.CheckAt * Ms);
  }

  // Moved: the port's counters now differ from those the counting thread read last and from
  // those the guard read at its last look.
  struct TLook {
    const char* What;
    TModemCounts Now, Counted, Looked;
    bool Moved;
  } looks[] = {
      {"counting thread up to date", {40, 41}, {40, 41}, {10, 10}, false},
      {"counting thread behind", {40, 41}, {20, 20}, {10, 10}, true},
      {"behind, and still since the last look (a jam)", {40, 41}, {20, 20}, {40, 41}, false},
      {"one line only", {40, 42}, {40, 41}, {40, 41}, true},
  };
  for (const TLook& l : looks) {
    SCOPED_TRACE(l.What);
    EXPECT_EQ(TStallRule::LinesMoved(l.Now, l.Counted, l.Looked), l.Moved);
  }
}

TEST(StallRuleTest, TheFloorIsTheSetting) {
  TStallParams p = Factory();
  p.FloorUs = 2000 * Ms;
  p.CodesPerSecond = 300;
  const TStallInput in{true, false, 3000 * Ms, 0, 0, 1000 * Ms, 3 * Ms};
  EXPECT_TRUE(TStallRule(p).Judge(in).Stalled);
  EXPECT_EQ(TStallRule(p).Judge(in).LimitUs, 2000 * Ms);
  p.FloorUs = 2001 * Ms;
  EXPECT_FALSE(TStallRule(p).Judge(in).Stalled);
}

// Every motor model turning at each of its speeds, judged at every change and halfway
// between: never a stall while it turns; once its codes stop, a stall exactly one limit on.
TEST(StallRuleTest, NoModelStallsWhileTurning) {
  for (const auto& model : sim::MotorModels()) {
    for (double speed :
         {model.Params.SlowSpeed, model.Params.FastSpeed, model.Params.DirectSpeed}) {
      SCOPED_TRACE(testing::Message() << model.Name << " at " << speed);
      TStallParams p = Factory();
      p.CodesPerSecond = speed;
      const TStallRule rule(p);
      // The first code comes after breakaway and about one spin-up time.
      const double firstS = model.Params.BreakawayTime + model.Params.SpinUpTime + 1 / speed;
      TStallInput in{true, false, 0, 1000 * Ms, 0, 0, 0};
      int64_t change = in.DriveSinceUs + static_cast<int64_t>(firstS * 1e6);
      const int64_t interval = static_cast<int64_t>(1e6 / speed);
      for (int code = 0; code < 300; ++code) {
        in.NowUs = change - 1;
        ASSERT_FALSE(rule.Judge(in).Stalled) << "before code " << code;
        in.LastIntervalUs = code == 0 ? 0 : interval;
        in.LastChangeUs = change;
        in.NowUs = change + interval / 2;
        ASSERT_FALSE(rule.Judge(in).Stalled) << "after code " << code;
        change += interval;
      }
      // An end stop: no more codes.
      const TStallVerdict v = rule.Judge(in);
      EXPECT_EQ(v.CheckAtUs, in.LastChangeUs + v.LimitUs);
      in.NowUs = v.CheckAtUs;
      EXPECT_TRUE(rule.Judge(in).Stalled);
    }
  }
}

TEST(StallRuleTest, FaultText) {
  EXPECT_EQ(StallFaultText(20480, 500 * Ms),
            "Stopped at 20480: no encoder change for 0.5 s, an end stop or the encoder");
  EXPECT_EQ(StallFaultText(-20480, 1250 * Ms),
            "Stopped at -20480: no encoder change for 1.3 s, an end stop or the encoder");
  EXPECT_EQ(StallFaultText(7, 50 * Ms),
            "Stopped at 7: no encoder change for 0.05 s, an end stop or the encoder");
}

}  // namespace
}  // namespace morvane::test
