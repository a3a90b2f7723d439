// The simulated focuser's trace: what is recorded, in which order, with which stamps.

#include <gtest/gtest.h>

#include "SimTestSupport.h"
#include "sim/SimFocuser.h"
#include "sim/SimTrace.h"

namespace morvane::sim::test {
namespace {

TEST(SimTrace, RecordsEveryPortOperationInOrder) {
  TSimFocuser sim;
  const int64_t before = NowUs();
  auto port = sim.Open();
  port->SetCommMask(EV_CTS);
  port->EscapeCommFunction(CLRRTS);
  port->EscapeCommFunction(SETDTR);
  port->PurgeComm(15);
  Send(*port, ":FQ#");
  sim.SetEncoderLines(true, false);
  port->Close();
  const int64_t after = NowUs();

  const auto t = sim.Trace();
  ASSERT_EQ(t.size(), 9u);
  EXPECT_EQ(t[0].Kind, TTraceKind::Open);
  EXPECT_EQ(t[1].Kind, TTraceKind::Mask);
  EXPECT_EQ(t[1].Value, EV_CTS);
  EXPECT_EQ(t[2].Kind, TTraceKind::Line);
  EXPECT_EQ(t[2].Line, 'R');
  EXPECT_FALSE(t[2].Level);
  EXPECT_EQ(t[3].Kind, TTraceKind::Line);
  EXPECT_EQ(t[3].Line, 'D');
  EXPECT_TRUE(t[3].Level);
  EXPECT_EQ(t[4].Kind, TTraceKind::Purge);
  EXPECT_EQ(t[4].Value, 15u);
  EXPECT_EQ(t[5].Kind, TTraceKind::Write);
  EXPECT_EQ(t[5].Bytes, ":FQ#");
  EXPECT_EQ(t[6].Kind, TTraceKind::Edge);
  EXPECT_EQ(t[6].Line, 'C');
  EXPECT_TRUE(t[6].Level);
  EXPECT_EQ(t[6].Position, 1);
  EXPECT_EQ(t[7].Kind, TTraceKind::Close);
  // Closing drops the DTR the port had set.
  EXPECT_EQ(t[8].Kind, TTraceKind::Line);
  EXPECT_EQ(t[8].Line, 'D');
  EXPECT_FALSE(t[8].Level);
  // Stamps on the steady clock, in order.
  EXPECT_GE(t.front().Us, before);
  EXPECT_LE(t.back().Us, after);
  for (size_t i = 1; i < t.size(); ++i) EXPECT_GE(t[i].Us, t[i - 1].Us);
}

TEST(SimTrace, ClearEmptiesItAndACopyStaysAsTaken) {
  TSimFocuser sim;
  sim.Turn(2, 5000);
  const auto copy = sim.Trace();
  EXPECT_EQ(copy.size(), 8u);
  sim.ClearTrace();
  EXPECT_TRUE(sim.Trace().empty());
  EXPECT_EQ(copy.size(), 8u);
  sim.Turn(-1, 5000);
  const auto t = sim.Trace();
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(t.back().Position, 1);
}

TEST(SimTrace, EdgePositionsFollowTheCount) {
  TSimFocuser sim;
  auto port = sim.Open();
  ASSERT_TRUE(Send(*port, ":F+#"));
  SleepFor(100ms);
  ASSERT_TRUE(Send(*port, ":FQ#"));
  ASSERT_TRUE(WaitStopped(sim));
  int32_t expect = 0;
  bool dsr = false;
  for (const auto& e : OfKind(sim.Trace(), TTraceKind::Edge)) {
    if (e.Line == 'S') dsr = e.Level;
    if (e.Line == 'C' && !dsr) expect += e.Level ? 1 : -1;
    EXPECT_EQ(e.Position, expect);
  }
  EXPECT_EQ(expect, sim.Position());
  EXPECT_LT(expect, -10);
}

TEST(SimTrace, IsSafeToAppendFromManyThreads) {
  TSimTrace trace;
  std::vector<std::thread> threads;
  for (int k = 0; k < 4; ++k)
    threads.emplace_back([&trace] {
      for (int i = 0; i < 1000; ++i) trace.Add({});
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(trace.Copy().size(), 4000u);
}

TEST(SimTrace, FullTraceDropsItsOlderHalf) {
  TSimTrace trace(8);
  for (int i = 0; i < 9; ++i) {
    TTraceEntry e;
    e.Value = static_cast<uint32_t>(i);
    trace.Add(e);
  }
  const auto kept = trace.Copy();
  ASSERT_EQ(kept.size(), 5u);
  EXPECT_EQ(kept.front().Value, 4u);
  EXPECT_EQ(kept.back().Value, 8u);
}

TEST(SimTrace, FocuserKeepsToItsTraceLimit) {
  TSimParams p;
  p.TraceLimit = 100;
  TSimFocuser sim(p);
  sim.Turn(50, 20000);  // 200 edges
  const auto t = sim.Trace();
  EXPECT_LE(t.size(), 100u);
  EXPECT_GE(t.size(), 50u);
  EXPECT_EQ(t.back().Position, 50);
}

}  // namespace
}  // namespace morvane::sim::test
