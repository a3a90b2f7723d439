// The count's own check, without a port: the two lines' change counters against each other
// over a steady drive, on the turns a healthy shaft makes and on edges lost.
#include <gtest/gtest.h>

#include <vector>

#include "controller/EdgeCheckRule.h"

namespace morvane::test {
namespace {

// Quarter cycles toward rising codes, (CTS, DSR): (0,0) (1,0) (1,1) (0,1).
struct TCheckedShaft {
  int Quarter = 0;
  TModemCounts Counts;
  // One quarter either way: from an even quarter a step up changes CTS, from an odd one DSR.
  void Step(int dir) {
    const int from = ((Quarter % 4) + 4) % 4;
    const bool ctsChanges = dir > 0 ? from % 2 == 0 : from % 2 == 1;
    (ctsChanges ? Counts.Cts : Counts.Dsr) += 1;
    Quarter += dir;
  }
};

TEST(EdgeCheckRuleTest, JudgesEveryReading) {
  // Each case: a baseline at counters (100, 200) of drive 7, then one reading.
  struct TCase {
    const char* What;
    bool Steady;
    uint32_t Drive;
    TModemCounts Now;
    bool Lost;
    bool Rebased;  // the next reading is judged from this one
  } cases[] = {
      {"steady turn, even", true, 7, {150, 250}, false, false},
      {"steady turn, one ahead", true, 7, {151, 250}, false, false},
      {"one turn-back", true, 7, {152, 250}, false, false},
      {"three more CTS", true, 7, {153, 250}, true, true},
      {"three more DSR", true, 7, {150, 253}, true, true},
      {"DSR dead", true, 7, {140, 200}, true, true},
      // Not driven, paused or a new drive: the shaft may rock on an edge; a new stretch.
      {"at rest", false, 7, {140, 200}, false, true},
      {"new drive", true, 8, {140, 200}, false, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    const TEdgeBaseline base{true, 7, {100, 200}};
    const TEdgeCheck check = JudgeEdges(base, c.Steady, c.Drive, c.Now);
    EXPECT_EQ(check.Lost, c.Lost);
    const bool rebased = check.Baseline.Counts == c.Now && check.Baseline.Drive == c.Drive;
    EXPECT_EQ(rebased, c.Rebased);
    EXPECT_TRUE(check.Baseline.Set);
  }
  // Without a baseline the first reading is one.
  const TEdgeCheck first = JudgeEdges({}, true, 3, {5, 9});
  EXPECT_FALSE(first.Lost);
  EXPECT_EQ(first.Baseline.Counts, (TModemCounts{5, 9}));
  // Counters that wrapped between readings.
  const TEdgeBaseline high{true, 7, {2147483647, 2147483646}};
  EXPECT_FALSE(JudgeEdges(high, true, 7, {-2147483647 - 1 + 20, -2147483647 - 1 + 20}).Lost);
  EXPECT_TRUE(JudgeEdges(high, true, 7, {-2147483647 - 1 + 20, 2147483647}).Lost);
}

// A healthy shaft read at any spacing: a long steady turn either way, a drive that catches it
// coasting the other way (one turn-back), never a loss; the same turn with one line's edges
// missed is found, never before two of them are gone.
TEST(EdgeCheckRuleTest, HealthyTurnsPassAndMissedEdgesAreFound) {
  for (int start = 0; start < 4; ++start) {
    for (int dir : {1, -1}) {
      for (int every : {1, 2, 3, 7}) {
        SCOPED_TRACE(testing::Message()
                     << "from quarter " << start << ", dir " << dir << ", read every " << every);
        // Coasting the old way for a few quarters under the new drive, then turning its way.
        TCheckedShaft shaft{start, {1000, 2000}};
        TEdgeBaseline base = JudgeEdges({}, true, 1, shaft.Counts).Baseline;
        std::vector<int> steps(3, -dir);
        steps.insert(steps.end(), 400, dir);
        int n = 0;
        for (int s : steps) {
          shaft.Step(s);
          if (++n % every) continue;
          const TEdgeCheck check = JudgeEdges(base, true, 1, shaft.Counts);
          ASSERT_FALSE(check.Lost) << "after step " << n;
          base = check.Baseline;
        }

        // The same steady turn with every DSR change missed after the first few.
        TCheckedShaft lossy{start, {0, 0}};
        base = JudgeEdges({}, true, 2, lossy.Counts).Baseline;
        int losses = 0;
        int missed = 0;
        for (int k = 1; k <= 40; ++k) {
          const TModemCounts before = lossy.Counts;
          lossy.Step(dir);
          if (k > 8 && lossy.Counts.Dsr != before.Dsr) {
            --lossy.Counts.Dsr;
            ++missed;
          }
          if (k % every) continue;
          const TEdgeCheck check = JudgeEdges(base, true, 2, lossy.Counts);
          if (check.Lost) {
            ++losses;
            if (losses == 1) {
              EXPECT_GE(missed, 2);  // beyond the change a steady turn may be ahead
            }
          }
          base = check.Baseline;
        }
        EXPECT_GE(losses, 1);
      }
    }
  }
}

TEST(EdgeCheckRuleTest, WarningText) {
  EXPECT_EQ(EdgeLossText(20480, 14, 3),
            "Encoder edges lost at 20480 (CTS 14, DSR 3 changes): position unverified; Set "
            "Position or Reset");
}

}  // namespace
}  // namespace morvane::test
