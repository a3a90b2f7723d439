// Counting the encoder's CTS/DSR edges in single and doubled resolution, from the port's line
// counters and, where it has none, from the levels after each event.
#include "support/ControllerFixture.h"

namespace morvane::test {
namespace {

class CountingTest : public ControllerFixture, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    sim::TSimParams params;
    params.ModemCounters = GetParam();
    MakeController(params);
    ASSERT_TRUE(Controller->OpenPort());
    ClearReports();
  }
  // Sets the lines and waits until the counting thread has reported the change.
  void Lines(bool cts, bool dsr, size_t expectReports) {
    Sim->SetEncoderLines(cts, dsr);
    ASSERT_TRUE(WaitUntil([&] { return CTSReports().size() >= expectReports; }, 1000))
        << "no report for CTS " << cts << " DSR " << dsr;
  }
};

TEST_P(CountingTest, SingleResolutionCountsRisingEdgesOnly) {
  // One cycle turning the count-increasing way: DSR low at the rising CTS edge.
  Lines(true, false, 1);
  Sim->SetEncoderLines(true, true);  // DSR alone wakes nobody
  Lines(false, true, 2);
  Sim->SetEncoderLines(false, false);
  Lines(true, false, 3);
  auto r = CTSReports();
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].Count, 1);
  EXPECT_EQ(r[1].Count, 1) << "a falling edge is reported with the count unchanged";
  EXPECT_EQ(r[2].Count, 2);
  for (auto& x : r) EXPECT_FALSE(x.DSR);
}

TEST_P(CountingTest, DualSenseCountsBothEdges) {
  Controller->SetDualSense(true);
  Lines(true, false, 1);
  Sim->SetEncoderLines(true, true);
  Lines(false, true, 2);
  Sim->SetEncoderLines(false, false);
  Lines(true, false, 3);
  auto r = CTSReports();
  EXPECT_EQ(r[0].Count, 1);
  EXPECT_EQ(r[1].Count, 2);
  EXPECT_EQ(r[2].Count, 3);
}

TEST_P(CountingTest, DsrHighAtRisingEdgesCountsDownAndReportsTrue) {
  Sim->SetEncoderLines(false, true);
  Lines(true, true, 1);
  Sim->SetEncoderLines(true, false);
  Lines(false, false, 2);
  Controller->SetDualSense(true);
  Sim->SetEncoderLines(false, true);
  Lines(true, true, 3);
  Sim->SetEncoderLines(true, false);
  Lines(false, false, 4);
  auto r = CTSReports();
  // Single resolution counts a downward cycle at its falling edge with DSR low, the place the
  // upward count changes, so that a turn back across one edge leaves no count behind.
  EXPECT_EQ(r[0].Count, 0);
  EXPECT_TRUE(r[0].DSR);
  EXPECT_EQ(r[1].Count, -1);
  EXPECT_TRUE(r[1].DSR) << "the level of the last rising edge is reported";
  EXPECT_EQ(r[2].Count, -2);
  EXPECT_EQ(r[3].Count, -3);
}

TEST_P(CountingTest, FirstEventAFallingEdgeReportsDsrFalse) {
  Sim->SetEncoderLines(true, true);
  // The rising edge above was counted; start again from a fresh controller state.
  ASSERT_TRUE(WaitUntil([&] { return CTSReports().size() >= 1; }, 1000));
  Controller->ClosePort();
  ASSERT_TRUE(Controller->OpenPort());
  ClearReports();
  Lines(false, true, 1);
  auto r = CTSReports();
  EXPECT_EQ(r[0].Count, 0);
  EXPECT_FALSE(r[0].DSR);
}

TEST_P(CountingTest, DualSenseTakesEffectAtTheNextFallingEdge) {
  Lines(true, false, 1);
  Sim->SetEncoderLines(true, true);
  Controller->SetDualSense(true);
  Lines(false, true, 2);
  EXPECT_EQ(CTSReports()[1].Count, 2);
  Controller->SetDualSense(false);
  Sim->SetEncoderLines(false, false);
  Lines(true, false, 3);
  Sim->SetEncoderLines(true, true);
  Lines(false, true, 4);
  EXPECT_EQ(CTSReports()[3].Count, 3);
}

TEST_P(CountingTest, TurningFollowsEveryEdgeBothWays) {
  Sim->Turn(200, 4000);
  ASSERT_TRUE(WaitUntil([&] { return Controller->CTSCount() == 200; }, 2000));
  Sim->Turn(-50, 4000);
  ASSERT_TRUE(WaitUntil([&] { return Controller->CTSCount() == 150; }, 2000));
  // The turn's last falling edge comes after the count reached 150: switch only once it has
  // been reported, or it would count in doubled resolution.
  ASSERT_TRUE(WaitUntil([&] { return CTSReports().size() == 2u * 250; }, 2000));
  Controller->SetDualSense(true);
  Sim->Turn(25, 4000);
  EXPECT_TRUE(WaitUntil([&] { return Controller->CTSCount() == 200; }, 2000));
  EXPECT_EQ(CTSReports().size(), 2u * 275);
}

INSTANTIATE_TEST_SUITE_P(Port, CountingTest, ::testing::Values(true, false), [](const auto& info) {
  return info.param ? "LineCounters" : "NoCounters";
});

// A reader that wakes milliseconds late on a UART, whose counters see every edge: each wake-up
// finds several edges, and the count still follows the encoder edge for edge.
class LateCountingTest : public ControllerFixture {
 protected:
  void SetUp() override {
    sim::TSimParams params;
    params.MergeEdges = true;
    params.ReaderDelayUs = 1500;
    MakeController(params);
    ASSERT_TRUE(Controller->OpenPort());
  }
  // A turn starts from rest: its first CTS change, made alone, is seen alone; the rest come
  // faster than the reader wakes. Turns end where they began, between CTS changes.
  void Follows(int codes, double rateHz) {
    const bool cts = Sim->CTS(), dsr = Sim->DSR();
    const size_t reports = CTSReports().size();
    Sim->SetEncoderLines(!cts, dsr);
    ASSERT_TRUE(WaitUntil([&] { return CTSReports().size() > reports; }, 1000));
    Sim->Turn(codes, rateHz);
    const auto encoder = [&] {
      return Controller->DualSense() ? Sim->DualPosition() : Sim->Position();
    };
    EXPECT_TRUE(WaitUntil([&] { return Controller->CTSCount() == encoder(); }, 2000))
        << "count " << Controller->CTSCount() << ", encoder " << encoder();
  }
};

TEST_F(LateCountingTest, SingleResolutionFollowsTheEncoderBothWays) {
  Follows(300, 5000);
  Follows(-120, 20000);
  EXPECT_LT(CTSReports().size(), 2u * 420) << "late wake-ups find several edges at once";
}

TEST_F(LateCountingTest, DoubleResolutionFollowsTheEncoderBothWays) {
  Controller->SetDualSense(true);
  Follows(200, 10000);
  Follows(-77, 2000);
}

}  // namespace
}  // namespace morvane::test
