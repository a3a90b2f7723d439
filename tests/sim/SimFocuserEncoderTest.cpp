// The simulated encoder: quadrature levels, one modem event per CTS change, snapshots in the
// queued mode, lost edges in the merged mode, and the wait's release.

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "SimTestSupport.h"
#include "sim/SimFocuser.h"

namespace morvane::sim::test {
namespace {

struct TLevels {
  char Line;
  bool Level;
  int32_t Position;
};

std::vector<TLevels> Edges(const TSimFocuser& sim) {
  std::vector<TLevels> out;
  for (const auto& e : OfKind(sim.Trace(), TTraceKind::Edge))
    out.push_back({e.Line, e.Level, e.Position});
  return out;
}

// A shaft kept from a run before: the lines, the port's view and the reference counts are
// those of a shaft that turned there from the start, and it counts on from there.
TEST(SimEncoder, AShaftStartedElsewhereIsWhereATurnWouldHaveLeftIt) {
  struct TCase {
    double Start;
    bool Cts, Dsr;
    int32_t Position, DualPosition;
  } cases[] = {
      {0.125, false, false, 0, 0}, {0.375, true, false, 1, 1},        {0.625, true, true, 1, 1},
      {0.875, false, true, 1, 2},  {500.375, true, false, 501, 1001}, {-0.125, false, true, 0, 0},
      {-0.375, true, true, 0, -1}, {-1.875, false, false, -2, -4},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Start);
    TSimParams params;
    params.StartShaft = c.Start;
    TSimFocuser sim(params);
    EXPECT_EQ(sim.ShaftPosition(), c.Start);
    EXPECT_EQ(sim.CTS(), c.Cts);
    EXPECT_EQ(sim.DSR(), c.Dsr);
    EXPECT_EQ(sim.Position(), c.Position);
    EXPECT_EQ(sim.DualPosition(), c.DualPosition);
    auto port = sim.Open();
    uint32_t status = 0;
    ASSERT_TRUE(port->GetCommModemStatus(status));
    EXPECT_EQ((status & MS_CTS_ON) != 0, c.Cts);
    EXPECT_EQ((status & MS_DSR_ON) != 0, c.Dsr);
    sim.Turn(2, 5000);
    EXPECT_EQ(sim.Position(), c.Position + 2);
    EXPECT_EQ(sim.DualPosition(), c.DualPosition + 4);
    sim.Turn(-3, 5000);
    EXPECT_EQ(sim.Position(), c.Position - 1);
  }
}

// Where the shaft comes to rest is told once per rest, and at the end only if it moved since.
TEST(SimEncoder, TheShaftAtRestIsTold) {
  std::mutex lock;
  std::vector<double> told;
  TSimParams params;
  params.StartShaft = 500.375;
  {
    TSimFocuser sim(params, [&](double shaft) {
      std::lock_guard guard(lock);
      told.push_back(shaft);
    });
    auto port = sim.Open();
    ASSERT_TRUE(Send(*port, ":F-#"));
    ASSERT_TRUE(WaitFor([&] { return sim.ShaftPosition() > 510; }));
    ASSERT_TRUE(Send(*port, ":FQ#"));
    ASSERT_TRUE(WaitStopped(sim));
    ASSERT_TRUE(WaitFor([&] {
      std::lock_guard guard(lock);
      return !told.empty();
    }));
    std::lock_guard guard(lock);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0], sim.ShaftPosition());
  }
  ASSERT_EQ(told.size(), 1u);  // nothing moved after the rest
  {
    TSimFocuser sim(params, [&](double shaft) {
      std::lock_guard guard(lock);
      told.push_back(shaft);
    });
    sim.Turn(1, 5000);  // by hand, each step a rest; the last one told by the end at least
  }
  ASSERT_GE(told.size(), 2u);
  EXPECT_EQ(told.back(), 501.375);
}

TEST(SimEncoder, OneCodeUpRunsThroughTheFourPhasesInOrder) {
  TSimFocuser sim;
  EXPECT_FALSE(sim.CTS());
  EXPECT_FALSE(sim.DSR());
  sim.Turn(1, 2000);
  // (0,0) -> (1,0) -> (1,1) -> (0,1) -> (0,0); the rising CTS edge with DSR low counts.
  const auto edges = Edges(sim);
  ASSERT_EQ(edges.size(), 4u);
  EXPECT_EQ(edges[0].Line, 'C');
  EXPECT_TRUE(edges[0].Level);
  EXPECT_EQ(edges[0].Position, 1);
  EXPECT_EQ(edges[1].Line, 'S');
  EXPECT_TRUE(edges[1].Level);
  EXPECT_EQ(edges[2].Line, 'C');
  EXPECT_FALSE(edges[2].Level);
  EXPECT_EQ(edges[3].Line, 'S');
  EXPECT_FALSE(edges[3].Level);
  EXPECT_EQ(edges[3].Position, 1);
  EXPECT_EQ(sim.Position(), 1);
  EXPECT_NEAR(sim.ShaftPosition(), 1.125, 1e-9);
}

TEST(SimEncoder, OneCodeDownRaisesCtsWithDsrHigh) {
  TSimFocuser sim;
  sim.Turn(-1, 2000);
  // (0,0) -> (0,1) -> (1,1) -> (1,0) -> (0,0)
  const auto edges = Edges(sim);
  ASSERT_EQ(edges.size(), 4u);
  EXPECT_EQ(edges[0].Line, 'S');
  EXPECT_TRUE(edges[0].Level);
  EXPECT_EQ(edges[1].Line, 'C');
  EXPECT_TRUE(edges[1].Level);
  EXPECT_EQ(edges[1].Position, 0);  // counted down at the falling edge, with DSR low
  EXPECT_EQ(edges[2].Line, 'S');
  EXPECT_FALSE(edges[2].Level);
  EXPECT_EQ(edges[3].Line, 'C');
  EXPECT_FALSE(edges[3].Level);
  EXPECT_EQ(edges[3].Position, -1);
  EXPECT_EQ(sim.Position(), -1);
}

TEST(SimEncoder, MotorRunUpShowsDsrLowAtEveryRisingCts) {
  TSimFocuser sim;
  auto port = sim.Open();
  ASSERT_TRUE(Send(*port, ":F-#"));
  SleepFor(100ms);
  ASSERT_TRUE(Send(*port, ":FQ#"));
  ASSERT_TRUE(WaitStopped(sim));
  bool dsr = false;
  int rising = 0;
  for (const auto& e : Edges(sim)) {
    if (e.Line == 'S') dsr = e.Level;
    if (e.Line == 'C' && e.Level) {
      EXPECT_FALSE(dsr);
      ++rising;
    }
  }
  EXPECT_GT(rising, 10);
  EXPECT_EQ(rising, sim.Position());
}

TEST(SimEncoder, EveryCtsChangeWakesOneWaitWithItsOwnLevels) {
  TSimFocuser sim;
  auto port = sim.Open();
  TCountingReader reader(*port);
  sim.Turn(50, 4000);
  ASSERT_TRUE(WaitFor([&] { return reader.Wakes() == 100; }));
  SleepFor(20ms);
  EXPECT_EQ(reader.Wakes(), 100);
  EXPECT_EQ(reader.Count(), 50);
  EXPECT_EQ(reader.Inconsistent(), 0);
  sim.Turn(-20, 4000);
  ASSERT_TRUE(WaitFor([&] { return reader.Wakes() == 140; }));
  EXPECT_EQ(reader.Count(), 30);
  EXPECT_EQ(sim.Position(), 30);
}

TEST(SimEncoder, QueuedModeLosesNothingToASlowReader) {
  TSimFocuser sim;
  auto port = sim.Open();
  // The reader takes 100 us per event; CTS changes every 50 us.
  TCountingReader reader(*port, 100);
  sim.Turn(200, 20000);
  ASSERT_TRUE(WaitFor([&] { return reader.Wakes() == 400; }));
  EXPECT_EQ(reader.Count(), 200);
  EXPECT_EQ(reader.Inconsistent(), 0);
}

TEST(SimEncoder, MergedModeLosesEdgesAboveTheReadersRate) {
  TSimParams p;
  p.MergeEdges = true;
  TSimFocuser sim(p);
  auto port = sim.Open();
  TCountingReader reader(*port, 100);
  sim.Turn(200, 20000);
  SleepFor(50ms);
  EXPECT_LT(reader.Wakes(), 300);
  EXPECT_LT(reader.Count(), 150);
  EXPECT_EQ(sim.Position(), 200);
}

TEST(SimEncoder, ACountersPortCountsEveryChangeUnreadAndRefusesWithoutCounters) {
  TSimParams p;
  p.MergeEdges = true;
  TSimFocuser sim(p);
  auto port = sim.Open();
  sim.Turn(3, 10000);  // nobody waiting or reading
  TModemCounts counts;
  uint32_t status = 0xFF;
  ASSERT_TRUE(port->GetCommCounts(counts, status));
  EXPECT_EQ(counts, (TModemCounts{6, 6}));
  EXPECT_EQ(status, 0u);
  p.ModemCounters = false;
  TSimFocuser bare(p);
  auto barePort = bare.Open();
  EXPECT_EQ(barePort->GetCommCounts(counts, status).Error(), TPortError::peNotSupported);
}

TEST(SimEncoder, AnAdapterMissesAChangeUndoneWithinOneStatusInterval) {
  TSimParams p;
  p.AdapterLatencyUs = 100'000;
  TSimFocuser sim(p);
  auto port = sim.Open();
  ASSERT_TRUE(port->SetCommMask(EV_DSR));
  TModemCounts before, after;
  uint32_t status = 0;
  bool merged = false;
  // Tried up to three times: the two CTS changes may straddle a report, if rarely.
  for (int attempt = 0; attempt < 3 && !merged; ++attempt) {
    ASSERT_TRUE(port->GetCommCounts(before, status));
    sim.SetEncoderLines(true, sim.DSR());
    sim.SetEncoderLines(false, sim.DSR());
    sim.SetEncoderLines(false, !sim.DSR());
    uint32_t events = 0;
    ASSERT_TRUE(port->WaitCommEvent(events));  // the next report, with the DSR change
    ASSERT_TRUE(port->GetCommCounts(after, status));
    EXPECT_EQ(after.Dsr - before.Dsr, 1);
    EXPECT_EQ((status & MS_DSR_ON) != 0, sim.DSR());
    merged = after.Cts == before.Cts;
  }
  EXPECT_TRUE(merged) << "a CTS pulse shorter than the interval was seen";
}

TEST(SimEncoder, MergedModeKeepsUpWithASlowShaft) {
  TSimFocuser sim;
  sim.SetMergeEdges(true);
  auto port = sim.Open();
  TCountingReader reader(*port);
  sim.Turn(5, 50);  // a line change every 10 ms
  ASSERT_TRUE(WaitFor([&] { return reader.Count() == 5; })) << reader.Count();
  EXPECT_EQ(reader.Wakes(), 10);
}

TEST(SimEncoder, MergedModeReportsLiveLevelsAndOneEventForManyChanges) {
  TSimFocuser sim;
  sim.SetMergeEdges(true);
  auto port = sim.Open();
  ASSERT_TRUE(port->SetCommMask(EV_CTS));
  sim.Turn(3, 10000);  // six CTS changes, nobody waiting
  uint32_t events = 0, status = 0;
  ASSERT_TRUE(port->WaitCommEvent(events));
  EXPECT_EQ(events, EV_CTS);
  ASSERT_TRUE(port->GetCommModemStatus(status));
  EXPECT_EQ(status, 0u);  // live: back at (0,0)
  // Nothing else is pending: a release by mask is what ends the next wait.
  std::thread release([&] {
    SleepFor(30ms);
    port->SetCommMask(EV_CTS);
  });
  ASSERT_TRUE(port->WaitCommEvent(events));
  EXPECT_EQ(events, 0u);
  release.join();
}

TEST(SimEncoder, QueuedModeStatusIsTheSnapshotOfItsChange) {
  TSimFocuser sim;
  auto port = sim.Open();
  ASSERT_TRUE(port->SetCommMask(EV_CTS));
  sim.Turn(1, 10000);  // CTS up (DSR low), CTS down (DSR high)
  uint32_t events = 0, status = 0;
  ASSERT_TRUE(port->WaitCommEvent(events));
  EXPECT_EQ(events, EV_CTS);
  ASSERT_TRUE(port->GetCommModemStatus(status));
  EXPECT_EQ(status, MS_CTS_ON);
  ASSERT_TRUE(port->WaitCommEvent(events));
  ASSERT_TRUE(port->GetCommModemStatus(status));
  EXPECT_EQ(status, MS_DSR_ON);
}

TEST(SimEncoder, StatusWithoutAWaitIsLive) {
  TSimFocuser sim;
  auto port = sim.Open();
  sim.SetEncoderLines(true, true);
  uint32_t status = 0;
  ASSERT_TRUE(port->GetCommModemStatus(status));
  EXPECT_EQ(status, MS_CTS_ON | MS_DSR_ON);
}

TEST(SimEncoder, MaskZeroReleasesABlockedWait) {
  TSimFocuser sim;
  auto port = sim.Open();
  ASSERT_TRUE(port->SetCommMask(EV_CTS));
  std::atomic<int> result{-1};
  uint32_t events = 123;
  std::thread waiter([&] { result = port->WaitCommEvent(events) ? 1 : 0; });
  SleepFor(30ms);
  EXPECT_EQ(result, -1);
  ASSERT_TRUE(port->SetCommMask(0));
  waiter.join();
  EXPECT_EQ(result, 1);
  EXPECT_EQ(events, 0u);
  // With no events selected there is nothing to wait for.
  EXPECT_FALSE(port->WaitCommEvent(events));
}

TEST(SimEncoder, OnlyOneWaitAtATime) {
  TSimFocuser sim;
  auto port = sim.Open();
  ASSERT_TRUE(port->SetCommMask(EV_CTS));
  std::thread waiter([&] {
    uint32_t events = 0;
    port->WaitCommEvent(events);
  });
  SleepFor(30ms);
  uint32_t events = 0;
  EXPECT_FALSE(port->WaitCommEvent(events));
  port->SetCommMask(0);
  waiter.join();
}

TEST(SimEncoder, MaskSelectsWhichLineWakes) {
  TSimFocuser sim;
  auto port = sim.Open();
  ASSERT_TRUE(port->SetCommMask(EV_DSR));
  sim.SetEncoderLines(true, false);  // CTS only: not selected
  sim.SetEncoderLines(true, true);   // DSR
  uint32_t events = 0, status = 0;
  ASSERT_TRUE(port->WaitCommEvent(events));
  EXPECT_EQ(events, EV_DSR);
  ASSERT_TRUE(port->GetCommModemStatus(status));
  EXPECT_EQ(status, MS_CTS_ON | MS_DSR_ON);
}

TEST(SimEncoder, SetLinesChangesBothWithDsrFirst) {
  TSimFocuser sim;
  auto port = sim.Open();
  ASSERT_TRUE(port->SetCommMask(EV_CTS));
  sim.SetEncoderLines(true, true);  // from (0,0): CTS rises with DSR already high
  const auto edges = Edges(sim);
  ASSERT_EQ(edges.size(), 2u);
  EXPECT_EQ(edges[0].Line, 'S');
  EXPECT_EQ(edges[1].Line, 'C');
  EXPECT_EQ(sim.Position(), 0);  // single resolution counts edges with DSR low only
  uint32_t events = 0, status = 0;
  ASSERT_TRUE(port->WaitCommEvent(events));
  ASSERT_TRUE(port->GetCommModemStatus(status));
  EXPECT_EQ(status, MS_CTS_ON | MS_DSR_ON);
  // Same levels again: no change, no event.
  sim.SetEncoderLines(true, true);
  EXPECT_EQ(Edges(sim).size(), 2u);
  sim.SetEncoderLines(false, true);
  EXPECT_EQ(EdgesOf(sim.Trace(), 'C').size(), 2u);
  EXPECT_EQ(sim.Position(), 0);
}

TEST(SimEncoder, ReaderCountEqualsPositionAfterARealRun) {
  TSimFocuser sim;
  auto port = sim.Open();
  TCountingReader reader(*port);
  ASSERT_TRUE(Send(*port, ":FF#"));
  ASSERT_TRUE(Send(*port, ":F+#"));
  SleepFor(150ms);
  ASSERT_TRUE(Send(*port, ":FQ#"));
  ASSERT_TRUE(WaitStopped(sim));
  ASSERT_TRUE(WaitFor([&] { return reader.Count() == sim.Position(); }));
  EXPECT_LT(sim.Position(), -50);
}

TEST(SimEncoder, TurnKeepsToItsRate) {
  TSimFocuser sim;
  const int64_t start = NowUs();
  sim.Turn(100, 10000);  // 400 line changes, 50 us apart
  // Edges are timed against deadlines from the start, so they never come early.
  const auto edges = OfKind(sim.Trace(), TTraceKind::Edge);
  ASSERT_EQ(edges.size(), 400u);
  EXPECT_GE(edges.back().Us - start, 399 * 50 - 1);  // stamps are truncated to 1 us
  for (size_t i = 1; i < edges.size(); ++i) EXPECT_GE(edges[i].Us, edges[i - 1].Us);
  EXPECT_EQ(sim.Position(), 100);
}

}  // namespace
}  // namespace morvane::sim::test
