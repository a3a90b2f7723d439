// The backlash probe against scripted motors, with no clock: each row gives a motor and what
// the probe must conclude of it, from several places of the shaft within its code and of the
// motor within its play.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "motion/BacklashProbe.h"

namespace morvane::test {
namespace {

// Codes the motor turns per ms of a pulse beyond DeadMs (the command on the wire, the
// breakaway); the encoder shaft follows it across Play codes of play. Sign -1: wired the
// wrong way round.
// clang-format off
struct TMotor { double Rate, DeadMs, Play; int Sign = 1; };

struct TProbeRow {
  const char* Kind; TMotor Motor; TBacklashOutcome Outcome; uint32_t PulseMs;
};

constexpr auto Measured = TBacklashOutcome::boMeasured;
constexpr auto NotSeen = TBacklashOutcome::boNotSeen;

const TProbeRow ProbeRows[] = {
    {"no play",                 {0.12, 4, 0},      NotSeen, 15},
    {"no play, light",          {0.6, 4, 0},       NotSeen, 15},
    {"play 6",                  {0.12, 4, 6},      Measured, 15},
    {"play 6, under a code",    {0.08, 4, 6},      Measured, 23},  // 15 ms: 0.9 codes a pulse
    {"play 25, stiff",          {0.05, 12, 25},    Measured, 35},
    {"play 12, light",          {0.6, 4, 12},      Measured, 15},
    {"dead",                    {0, 0, 0},         TBacklashOutcome::boNotMoving, 15},
    {"too stiff for pulses",    {0.05, 99, 0},     TBacklashOutcome::boNotMoving, 100},
    {"reversed",                {0.12, 4, 0, -1},  TBacklashOutcome::boMovedAway, 15},
    {"play past the limit",     {0.6, 4, 150},     TBacklashOutcome::boNoReversal, 15},
    {"runs away",               {20, 0, 0},        TBacklashOutcome::boTooFar, 15},
};
// clang-format on

TEST(BacklashProbeTest, ScriptedMotorsGiveThePlayWithinTheUncertainty) {
  for (const TProbeRow& row : ProbeRows)
    for (const double frac : {0.02, 0.5, 0.97})
      for (const double side : {-1.0, 0.0, 1.0}) {
        SCOPED_TRACE(::testing::Message() << row.Kind << ", shaft " << frac << ", side " << side);
        const TMotor& m = row.Motor;
        // The shaft at rest at 100 + frac; the motor anywhere within the play.
        double shaft = 100 + frac;
        double motor = shaft + side * m.Play / 2;
        TBacklashProbe probe(true, 15);
        int pulses = 0;
        for (; !probe.Done() && pulses < 500; ++pulses) {
          const TProbeStep step = probe.Next();
          ASSERT_GT(step.PulseMs, 0u);
          const int32_t before = int32_t(std::floor(shaft));
          const double travel = m.Rate * std::max(step.PulseMs - m.DeadMs, 0.0);
          motor += (step.Up ? 1 : -1) * m.Sign * travel;
          shaft = std::clamp(shaft, motor - m.Play / 2, motor + m.Play / 2);
          probe.Passed(before, int32_t(std::floor(shaft)));
        }
        ASSERT_TRUE(probe.Done()) << "no end after " << pulses << " pulses";
        const TBacklashResult& r = probe.Result();
        EXPECT_EQ(r.Outcome, row.Outcome);
        EXPECT_EQ(r.PulseMs, row.PulseMs);
        if (r.Outcome == Measured) {
          EXPECT_LE(std::abs(r.PlayCodes - m.Play), r.Uncertainty);
          // About a pulse's travel either way and a code for the shaft within its code, with
          // the calibration's error over the reversing pulses.
          EXPECT_LE(r.Uncertainty, r.CodesPerPulse + 1 + 0.2 * m.Play);
        }
        if (r.Outcome == NotSeen) {
          EXPECT_LE(m.Play, r.Uncertainty);
        }
        EXPECT_FALSE(BacklashResultText(r).empty());
      }
}

}  // namespace
}  // namespace morvane::test
