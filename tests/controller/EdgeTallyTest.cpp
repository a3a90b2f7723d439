// Encoder counts from line counters read late: every edge counted, in its direction.
#include <gtest/gtest.h>

#include <vector>

#include "controller/EdgeTally.h"

namespace morvane::test {
namespace {

// A shaft stepped quarter by quarter: the lines, their counters and the count a reader that
// saw every edge at once would keep.
struct TShaft {
  long Quarter = 0;  // (CTS, DSR) by quarter: (0,0) (1,0) (1,1) (0,1)
  TModemCounts Counts;
  int32_t Single = 0, Dual = 0;

  static bool CtsOf(long q) { return ((q % 4) + 4) % 4 == 1 || ((q % 4) + 4) % 4 == 2; }
  static bool DsrOf(long q) { return ((q % 4) + 4) % 4 >= 2; }
  TLineSample Sample() const { return {Counts, CtsOf(Quarter), DsrOf(Quarter)}; }
  void Step(int dir) {
    const bool cts = CtsOf(Quarter + dir);
    const bool dsr = DsrOf(Quarter);
    Quarter += dir;
    if (cts == CtsOf(Quarter - dir)) {
      ++Counts.Dsr;
      return;
    }
    ++Counts.Cts;
    if (!dsr) Single += cts ? 1 : -1;
    Dual += cts == dsr ? -1 : 1;
  }
};

TEST(EdgeTallyTest, ReadEveryFewChangesFollowsATurnEitherWayExactly) {
  for (bool dual : {false, true})
    for (int dir : {1, -1})
      for (long start = 0; start < 4; ++start)
        for (int every = 1; every <= 9; ++every) {
          TShaft shaft;
          shaft.Quarter = start;
          TEdgeTally tally;
          tally.Reset(shaft.Sample());
          int32_t count = 0;
          for (int i = 1; i <= 400; ++i) {
            shaft.Step(dir);
            // A turn starts from rest: its first change is seen alone.
            if (i == 1 || i % every == 0 || i == 400)
              count += tally.Take(shaft.Sample(), dual).Delta;
          }
          EXPECT_EQ(count, dual ? shaft.Dual : shaft.Single)
              << "dual " << dual << " dir " << dir << " start " << start << " every " << every;
        }
}

TEST(EdgeTallyTest, ReadAtEveryChangeFollowsReversalsAndChatter) {
  // Reversals and a line chattering at rest, as the shaft does where it stops and turns back.
  const std::vector<int> moves = {1, 1, 1, -1, 1, -1, -1, -1, -1, 1, -1, 1, 1, 1, 1, 1, -1, -1};
  for (bool dual : {false, true}) {
    TShaft shaft;
    TEdgeTally tally;
    tally.Reset(shaft.Sample());
    int32_t count = 0;
    for (int m : moves) {
      shaft.Step(m);
      count += tally.Take(shaft.Sample(), dual).Delta;
      EXPECT_EQ(count, dual ? shaft.Dual : shaft.Single) << "dual " << dual;
      // The count is the shaft's place, whatever way it came there: one per cycle at the edge
      // with DSR low, or one per CTS edge.
      const long q = shaft.Quarter;
      EXPECT_EQ(count, dual ? (q + 1 + 4096) / 2 - 2048 : (q + 3 + 4096) / 4 - 1024)
          << "dual " << dual << " quarter " << q;
    }
  }
}

TEST(EdgeTallyTest, ReportsWhatTheLastRisingEdgeSaw) {
  struct TRow {
    TLineSample From, To;
    bool Dual;
    int32_t Delta;
    int CtsChanges;
    bool RisingSeen, DsrAtRising;
  };
  const TRow rows[] = {
      // DSR alone changed: nothing to count or report.
      {{{0, 0}, false, false}, {{0, 3}, false, true}, true, 0, 0, false, false},
      // One rising edge with DSR high: down, counted in double resolution only; single
      // resolution counted down at the falling edge with DSR low before it.
      {{{0, 0}, false, true}, {{1, 0}, true, true}, false, 0, 1, true, true},
      {{{0, 0}, false, true}, {{1, 0}, true, true}, true, -1, 1, true, true},
      // One falling edge with DSR low: down in either resolution.
      {{{0, 0}, true, false}, {{1, 0}, false, false}, false, -1, 1, false, false},
      // One falling edge: counted only in double resolution, no rising edge seen.
      {{{0, 0}, true, true}, {{1, 0}, false, true}, false, 0, 1, false, false},
      {{{0, 0}, true, true}, {{1, 0}, false, true}, true, 1, 1, false, false},
      // DSR chattered at rest before the edge: the edge goes by DSR as it is now.
      {{{0, 0}, false, false}, {{1, 4}, true, false}, false, 1, 1, true, false},
      // Three changes late, CTS first from (0,0): up, one rising edge with DSR low.
      {{{0, 0}, false, false}, {{2, 1}, false, true}, false, 1, 2, true, false},
      // Three changes late, DSR first from (0,0): down, the rising edge saw DSR high.
      {{{0, 0}, false, false}, {{1, 2}, true, false}, true, -1, 1, true, true},
      // No steady turn gives 1 CTS and 3 DSR changes: the least turn to the levels now, two
      // quarters down, across the rising edge with DSR high only.
      {{{0, 0}, false, false}, {{1, 3}, true, true}, false, 0, 1, true, true},
      {{{0, 0}, true, false}, {{1, 3}, false, false}, true, -1, 1, false, false},
      // Counters that wrapped still give the number of changes.
      {{{0x7fffffff, 5}, false, false},
       {{static_cast<int>(0x80000000), 5}, true, false},
       false,
       1,
       1,
       true,
       false},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    const TRow& r = rows[i];
    TEdgeTally tally;
    tally.Reset(r.From);
    const TTallyStep step = tally.Take(r.To, r.Dual);
    EXPECT_EQ(step.Delta, r.Delta) << "row " << i;
    EXPECT_EQ(step.CtsChanges, r.CtsChanges) << "row " << i;
    EXPECT_EQ(step.RisingSeen, r.RisingSeen) << "row " << i;
    EXPECT_EQ(step.DsrAtRising, r.DsrAtRising) << "row " << i;
  }
}

// A first reading of the counters that failed leaves the tally without a start: it counts
// nothing until the first good sample, and from there on only what changed after it (it
// counted -500 000 at counters of 1 000 000).
TEST(EdgeTallyTest, WithoutAStartTheFirstSampleIsTheStart) {
  struct TRow {
    TLineSample First, Next;
    bool Dual;
    int32_t NextDelta;
  } rows[] = {
      // CTS rose once more with DSR low: one up either way.
      {{{1000000, 1000000}, false, false}, {{1000001, 1000000}, true, false}, false, 1},
      {{{1000000, 1000000}, false, false}, {{1000001, 1000000}, true, false}, true, 1},
      // Nothing more: nothing counted.
      {{{1000000, 999999}, true, true}, {{1000000, 999999}, true, true}, false, 0},
      // CTS fell with DSR low: one down in double resolution.
      {{{7, 3}, true, false}, {{8, 3}, false, false}, true, -1},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    const TRow& r = rows[i];
    TEdgeTally tally;
    const TTallyStep first = tally.Take(r.First, r.Dual);
    EXPECT_EQ(first.Delta, 0) << "row " << i;
    EXPECT_EQ(first.CtsChanges, 0) << "row " << i;
    EXPECT_FALSE(first.RisingSeen) << "row " << i;
    EXPECT_EQ(tally.Take(r.Next, r.Dual).Delta, r.NextDelta) << "row " << i;
  }
}

}  // namespace
}  // namespace morvane::test
