// The motor model on its own, in model time: the figures the controller's factory settings
// rely on, and the event search the physics thread times its edges by.

#include "sim/SimMotor.h"

#include <gtest/gtest.h>

namespace morvane::sim {
namespace {

constexpr double Start = 0.125;

// Distance the shaft turns for a drive of `seconds` from rest, coast included.
double PulseDistance(const TSimParams& p, double seconds, double speed) {
  TSimMotor m(p, 0);
  m.PlaceShaft(0, Start);
  m.SetDrive(0, 1, speed);
  m.SetDrive(seconds, 0, speed);
  m.AdvanceTo(seconds + 5);
  EXPECT_TRUE(m.Settled());
  return m.Shaft() - Start;
}

// Distance coasted after a drive of `runSeconds` at `speed` is cut.
double CoastDistance(const TSimParams& p, double runSeconds, double speed) {
  TSimMotor m(p, 0);
  m.SetDrive(0, 1, speed);
  m.AdvanceTo(runSeconds);
  const double atStop = m.Shaft();
  m.SetDrive(runSeconds, 0, speed);
  m.AdvanceTo(runSeconds + 5);
  return m.Shaft() - atStop;
}

TEST(SimMotor, RunReachesItsSpeedAndCountsAsItSays) {
  TSimParams p;
  TSimMotor m(p, 0);
  m.SetDrive(0, 1, p.SlowSpeed);
  m.AdvanceTo(0.5);
  EXPECT_NEAR(m.Velocity(), p.SlowSpeed, p.SlowSpeed * 0.01);
  const double at = m.Shaft();
  m.AdvanceTo(1.5);
  EXPECT_NEAR(m.Shaft() - at, p.SlowSpeed, p.SlowSpeed * 0.01);
}

TEST(SimMotor, SpinUpTakesTimeSoAOneSecondRunFallsShortOnlySlightly) {
  TSimParams p;
  TSimMotor m(p, 0);
  m.SetDrive(0, 1, p.SlowSpeed);
  m.AdvanceTo(0.010);
  EXPECT_LT(m.Velocity(), p.SlowSpeed * 0.3);
  m.AdvanceTo(1.0);
  EXPECT_GT(m.Shaft(), p.SlowSpeed * 0.9);
  EXPECT_LT(m.Shaft(), p.SlowSpeed);
}

TEST(SimMotor, StoppedAtSlowSpeedItCoastsOnSeveralCodes) {
  TSimParams p;
  const double coast = CoastDistance(p, 1.0, p.SlowSpeed);
  // Stopping 12 short must leave codes to nudge, also with the 4 ms the stop command
  // spends on the wire (1.25 codes at slow speed).
  EXPECT_GT(coast, 7.5);
  EXPECT_LT(coast, 9.5);
}

TEST(SimMotor, CoastGrowsFasterThanSpeed) {
  TSimParams p;
  const double slow = CoastDistance(p, 1.0, p.SlowSpeed);
  const double fast = CoastDistance(p, 1.0, p.FastSpeed);
  EXPECT_GT(fast, 4 * slow);
}

TEST(SimMotor, ShortPulsesMoveAboutOneCode) {
  TSimParams p;
  const double d10 = PulseDistance(p, 0.010, p.SlowSpeed);
  const double d15 = PulseDistance(p, 0.015, p.SlowSpeed);
  EXPECT_GE(d10, 0.5);
  EXPECT_LE(d10, 1.2);
  EXPECT_GE(d15, 1.0);
  EXPECT_LE(d15, 2.0);
  EXPECT_LT(d10, d15);
}

TEST(SimMotor, PulseShorterThanBreakawayMovesNothing) {
  TSimParams p;
  p.BreakawayTime = 0.002;
  EXPECT_EQ(PulseDistance(p, 0.0015, p.SlowSpeed), 0.0);
  EXPECT_GT(PulseDistance(p, 0.004, p.SlowSpeed), 0.0);
}

TEST(SimMotor, WithoutDriveItStandsStill) {
  TSimParams p;
  TSimMotor m(p, 0);
  m.PlaceShaft(0, Start);
  m.AdvanceTo(100);
  EXPECT_EQ(m.Shaft(), Start);
  EXPECT_EQ(m.Velocity(), 0);
  EXPECT_TRUE(m.Settled());
  EXPECT_EQ(m.NextEvent(0, 0.25, 1000), TSimMotor::Never);
}

TEST(SimMotor, CoastEndsAtRestInFiniteTime) {
  TSimParams p;
  TSimMotor m(p, 0);
  m.SetDrive(0, -1, p.SlowSpeed);
  m.SetDrive(0.5, 0, p.SlowSpeed);
  EXPECT_FALSE(m.Settled());
  const double stop = m.NextEvent(-1e9, 1e9, 10);
  EXPECT_GT(stop, 0.5);
  EXPECT_LT(stop, 0.7);
  m.AdvanceTo(stop);
  EXPECT_TRUE(m.Settled());
  EXPECT_EQ(m.Velocity(), 0);
}

TEST(SimMotor, DriveDownTurnsTowardFallingCodes) {
  TSimParams p;
  TSimMotor m(p, 0);
  m.SetDrive(0, -1, p.SlowSpeed);
  m.AdvanceTo(0.5);
  EXPECT_LT(m.Velocity(), 0);
  EXPECT_LT(m.Shaft(), -100);
}

TEST(SimMotor, ReversalPassesThroughZeroSpeed) {
  TSimParams p;
  TSimMotor m(p, 0);
  m.SetDrive(0, 1, p.SlowSpeed);
  m.SetDrive(0.5, -1, p.SlowSpeed);
  // The first event is the instant the motor stands still before turning back.
  const double turn = m.NextEvent(-1e9, 1e9, 10);
  EXPECT_GT(turn, 0.5);
  EXPECT_LT(turn, 0.6);
  m.AdvanceTo(turn);
  EXPECT_EQ(m.Velocity(), 0);
  const double peak = m.Shaft();
  m.AdvanceTo(turn + 0.1);
  EXPECT_LT(m.Velocity(), 0);
  EXPECT_LT(m.Shaft(), peak);
}

TEST(SimMotor, BacklashDelaysTheShaftAfterAReversal) {
  TSimParams p;
  p.Backlash = 2.0;
  TSimMotor m(p, 0);
  m.SetDrive(0, 1, p.SlowSpeed);
  m.SetDrive(0.5, 0, p.SlowSpeed);
  m.AdvanceTo(1.0);
  const double top = m.Shaft();
  // A short pulse back takes up part of the play only.
  m.SetDrive(1.0, -1, p.SlowSpeed);
  m.SetDrive(1.015, 0, p.SlowSpeed);
  m.AdvanceTo(2.0);
  EXPECT_EQ(m.Shaft(), top);
  // A long one takes it up and turns the shaft.
  m.SetDrive(2.0, -1, p.SlowSpeed);
  m.SetDrive(2.1, 0, p.SlowSpeed);
  m.AdvanceTo(3.0);
  EXPECT_LT(m.Shaft(), top - 10);
}

TEST(SimMotor, EndStopStallsTheShaftAndReleasesItBackward) {
  TSimParams p;
  p.TravelRevs = 0.5;  // 256 codes either way
  TSimMotor m(p, 0);
  m.SetDrive(0, 1, p.FastSpeed);
  m.AdvanceTo(2.0);
  EXPECT_EQ(m.Shaft(), 256.0);
  EXPECT_EQ(m.Velocity(), 0);
  EXPECT_TRUE(m.Settled());
  m.SetDrive(2.0, -1, p.SlowSpeed);
  m.AdvanceTo(2.5);
  EXPECT_LT(m.Shaft(), 200.0);
}

TEST(SimMotor, NextEventFindsTheCrossingToAMicrosecond) {
  TSimParams p;
  TSimMotor m(p, 0);
  m.PlaceShaft(0, Start);
  m.SetDrive(0, 1, p.SlowSpeed);
  double lo = 0, hi = 0.25;
  for (int k = 0; k < 400; ++k) {
    const double t = m.NextEvent(lo, hi, 10);
    ASSERT_NE(t, TSimMotor::Never);
    TSimMotor before = m;
    before.AdvanceTo(t - 1e-6);
    EXPECT_LT(before.Shaft(), hi);
    m.AdvanceTo(t);
    if (m.Shaft() >= hi) {
      lo = hi;
      hi += 0.25;
    }
  }
  // 400 events, nearly all of them quarter-code crossings (plus the breakaway).
  EXPECT_GE(hi, 99.0);
}

TEST(SimMotor, NextEventLooksNoFurtherThanAsked) {
  TSimParams p;
  TSimMotor m(p, 0);
  m.PlaceShaft(0, Start);
  m.SetDrive(0, 1, p.SlowSpeed);
  m.AdvanceTo(0.5);
  // At 300 codes/s the next quarter code is at most 0.9 ms away.
  EXPECT_EQ(m.NextEvent(-1e9, 1e9, 0.6), TSimMotor::Never);
  EXPECT_EQ(m.NextEvent(m.Shaft() - 0.1, m.Shaft() + 0.25, 0.5), TSimMotor::Never);
  EXPECT_LT(m.NextEvent(m.Shaft() - 0.1, m.Shaft() + 0.25, 0.6), 0.5 + 0.001);
}

}  // namespace
}  // namespace morvane::sim
