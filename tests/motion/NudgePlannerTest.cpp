// The nudge planner against scripted motors, with no clock: each row gives the passes the
// planner makes (pulse/pause in ms) and where the count ends.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "motion/NudgePlanner.h"

namespace morvane::test {
namespace {

// How a motor answers a pulse, in codes of the count: a pulse drives for its length less the
// command's time on the wire (LX-200); the motor turns nothing until the drive passes
// Breakaway, then Rate codes per ms and Cube codes per ms cubed (a heavy motor spinning up
// and coasting on). After a reversal it turns Play codes before the encoder moves. Merged
// edges: the count misses every LoseEvery-th code.
// clang-format off
struct TMotorScript {
  double Rate = 0, Cube = 0, BreakawayMs = 0, Play = 0;
  int LoseEvery = 0, Sign = 1;  // Sign -1: wired the wrong way round
};

struct TRow {
  const char* Kind; TMotorScript Motor; bool Direct; int32_t Start, Target; TNudgeLearnt Learnt;
  const char* Passes;  // pulse/pause of each pass
  int32_t Landing; TNudgeVerdict Verdict;
};

constexpr TNudgeVerdict Landed = TNudgeVerdict::nvLanded;

const TMotorScript Default{0.09};                   // about a code per far pulse
const TMotorScript Heavy{0, 0.0008};                // 1 code at 11 ms, 5 at 19 ms
const TMotorScript Light{0.5};                      // 5 codes at 11 ms
const TMotorScript Sticky{0.1, 0, 12};              // 12 ms to break away
const TMotorScript Play{0, 0.0008, 0, 6};           // the heavy motor, 6 codes of play
const TMotorScript Merged{0.3, 0, 0, 0, 4};         // 3 codes at 11 ms, a quarter lost
const TMotorScript Dead{};                          // never moves
const TMotorScript Reversed{0.09, 0, 0, 0, 0, -1};  // turns the wrong way

// Each of these motors, from a plain start and from a run stopped short or coasted past.
// Three codes away a pass is far (15 ms on, 150 ms off), two codes away close (10/225).
const TRow Rows[] = {
    {"default", Default, false, 0, 6, {},
     "15/150 15/150 15/150 15/150 10/225 10/225 10/225", 6, Landed},
    {"default direct", Default, true, 0, -4, {},
     "15/150 15/150 10/225", -4, Landed},
    {"heavy coasted past", Heavy, false, 53, 50, {},
     "15/150 10/225 10/225 10/225 10/225 10/225 10/225 15/225", 50, Landed},
    {"heavy coasted past direct", Heavy, true, 53, 50, {},
     "15/150", 50, Landed},
    {"light", Light, false, 0, 12, {},
     "15/150 15/150 7/225", 13, Landed},
    {"light, learnt", Light, false, 0, 3, {6, 15, 0},
     "10/150", 3, Landed},
    {"sticky", Sticky, false, 0, 2, {},
     "10/225 10/225 10/225 15/225 15/225 15/225 23/225 23/225 23/225", 2, Landed},
    {"play", Play, false, 53, 50, {1, 15, 0},
     "15/150 15/150 15/150 15/150 15/150 15/150 15/150 10/225 10/225 10/225 10/225 15/225", 50, Landed},
    {"play direct", Play, true, 53, 50, {1, 15, 0},
     "15/150 15/150 15/150 10/225", 50, Landed},
    {"play, lengthened before", Play, true, 53, 50, {2, 23, 15},
     "23/150", 49, Landed},
    {"merged edges", Merged, false, 0, 20, {},
     "15/150 15/150 15/150 15/150 15/150 15/150 15/150 10/225 10/225", 21, Landed},
    {"dead", Dead, false, 0, -2, {},
     "10/225 10/225 10/225 15/225 15/225 15/225 23/225 23/225 23/225 35/225 35/225 35/225 53/225 53/225 53/225 80/225 80/225 80/225 100/225 100/225", 0, TNudgeVerdict::nvNotMoving},
    {"reversed", Reversed, false, 0, 3, {},
     "15/150 15/150 15/150 15/150 15/150 15/150 15/150 15/150 15/150 15/150 15/150 15/150 15/150 15/150 15/150 15/150 15/150 15/150 15/150 15/150 15/150", -21, TNudgeVerdict::nvMovedAway},
};
// clang-format on

TEST(NudgePlannerTest, ScriptedMotorsLandOnTheTargetOrOnePast) {
  for (const TRow& row : Rows) {
    SCOPED_TRACE(row.Kind);
    const TMotorScript& m = row.Motor;
    const TNudgeSettings s{0.015, 0.01, 0.15, row.Direct};  // the factory settings
    // The motor last turned upwards (a run that coasted past, or from rest): nudges down
    // reverse it.
    TNudgePlanner plan(row.Target, row.Start, row.Learnt, row.Start > row.Target);
    const int dir = plan.Up() ? 1 : -1;
    double motor = row.Start + 0.5;  // the shaft, within its code
    double play = m.Play;
    int32_t count = row.Start;
    std::ostringstream passes;
    TNudgeVerdict verdict = TNudgeVerdict::nvPulse;
    for (int pass = 0; pass < 200 && verdict == TNudgeVerdict::nvPulse; ++pass) {
      const TNudgePass p = plan.Next(count, s);
      passes << (pass ? " " : "") << p.PulseMs << "/" << p.PauseMs;
      const double drive = std::max(p.PulseMs - (row.Direct ? 0.0 : 4.0) - m.BreakawayMs, 0.0);
      double travel = m.Rate * drive + m.Cube * drive * drive * drive;
      const double takenUp = std::min(travel, play);
      play -= takenUp;
      const int32_t before = count;
      motor += dir * m.Sign * (travel - takenUp);
      // Codes crossed, less the ones merged edges lose.
      const int32_t crossed = int32_t(std::floor(motor)) - row.Start;
      count = row.Start + crossed - (m.LoseEvery ? crossed / m.LoseEvery : 0);
      verdict = plan.Passed(before, count, true);
    }
    EXPECT_EQ(passes.str(), row.Passes);
    EXPECT_EQ(count, row.Landing);
    EXPECT_EQ(verdict, row.Verdict);
  }
}

}  // namespace
}  // namespace morvane::test
