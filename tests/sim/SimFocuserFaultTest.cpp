// Faults of the simulated focuser: the cable pulled mid-run, a dead encoder.

#include <gtest/gtest.h>

#include "SimTestSupport.h"
#include "sim/SimFocuser.h"

namespace morvane::sim::test {
namespace {

TEST(SimFault, UnplugMidRunFailsThePortAndStopsTheMotor) {
  TSimFocuser sim;
  auto port = sim.Open();
  ASSERT_TRUE(port->SetCommMask(EV_CTS));
  ASSERT_TRUE(port->EscapeCommFunction(SETDTR));
  ASSERT_TRUE(Send(*port, ":F-#"));
  ASSERT_TRUE(WaitFor([&] { return sim.Speed() > 100; }));

  std::atomic<int> waited{-1}, read{-1};
  // A waiter with every event taken blocks until the cable goes.
  std::thread waiter([&] {
    uint32_t events = 0;
    while (port->WaitCommEvent(events)) {
    }
    waited = 0;
  });
  std::thread reader([&] {
    char b[4];
    size_t got = 0;
    read = static_cast<int>(port->Read(b, 4, got, 5000));
  });
  SleepFor(50ms);  // both into their calls, which nothing shows; before them they fail anyway
  sim.Unplug();
  waiter.join();
  reader.join();
  EXPECT_EQ(waited, 0);
  EXPECT_EQ(read, static_cast<int>(TIoResult::Failed));

  EXPECT_TRUE(WaitStopped(sim));
  EXPECT_FALSE(sim.DTR());
  const int32_t at = sim.Position();
  SleepFor(50ms);  // a watch: nothing marks when a wrong turn would have shown
  EXPECT_EQ(sim.Position(), at);

  uint32_t v = 0;
  EXPECT_FALSE(port->SetCommMask(EV_CTS));
  EXPECT_FALSE(port->WaitCommEvent(v));
  EXPECT_FALSE(port->GetCommModemStatus(v));
  EXPECT_FALSE(port->EscapeCommFunction(SETRTS));
  EXPECT_FALSE(port->PurgeComm(15));
  EXPECT_EQ(port->Write(":F-#", 4, 100), TIoResult::Failed);
  EXPECT_FALSE(sim.Moving());
  EXPECT_EQ(sim.Open(), nullptr);

  sim.Replug();
  auto fresh = sim.Open();
  ASSERT_TRUE(fresh);
  EXPECT_TRUE(fresh->EscapeCommFunction(SETDTR));
  // The old port stays dead, and closing it leaves the new one alone.
  EXPECT_FALSE(port->EscapeCommFunction(SETRTS));
  port.reset();
  EXPECT_TRUE(sim.DTR());
}

TEST(SimFault, UnplugShowsInTheTrace) {
  TSimFocuser sim;
  auto port = sim.Open();
  sim.Unplug();
  port.reset();  // closing a dead port adds nothing
  const auto trace = sim.Trace();
  ASSERT_EQ(trace.size(), 2u);
  EXPECT_EQ(trace[0].Kind, TTraceKind::Open);
  EXPECT_EQ(trace[1].Kind, TTraceKind::Unplug);
}

TEST(SimFault, DeadEncoderTurnsWithoutEdges) {
  TSimFocuser sim;
  auto port = sim.Open();
  TCountingReader reader(*port);
  sim.SetDeadEncoder(true);
  const double start = sim.ShaftPosition();
  ASSERT_TRUE(Send(*port, ":F-#"));
  EXPECT_TRUE(WaitFor([&] { return sim.Speed() > 100 && sim.ShaftPosition() - start > 20; }));
  ASSERT_TRUE(Send(*port, ":FQ#"));
  ASSERT_TRUE(WaitStopped(sim));
  EXPECT_GT(sim.ShaftPosition() - start, 20);
  EXPECT_EQ(sim.Position(), 0);
  EXPECT_TRUE(OfKind(sim.Trace(), TTraceKind::Edge).empty());
  EXPECT_EQ(reader.Wakes(), 0);

  // Revived, it counts on from where it stopped.
  sim.SetDeadEncoder(false);
  EXPECT_TRUE(OfKind(sim.Trace(), TTraceKind::Edge).empty());
  sim.Turn(3, 5000);
  EXPECT_EQ(sim.Position(), 3);
  ASSERT_TRUE(WaitFor([&] { return reader.Count() == 3; }));
}

// Missed changes of one line: the port's counter of that line falls behind the other's while
// its level stays true; the shaft and the reference count are untouched.
TEST(SimFault, DroppedEdgesAreMissedByTheCountersOnly) {
  TSimFocuser sim;
  auto port = sim.Open();
  TModemCounts before;
  uint32_t status = 0;
  ASSERT_TRUE(port->GetCommCounts(before, status));
  sim.DropEdges('S', 3);
  sim.Turn(4, 5000);  // 8 changes of each line
  EXPECT_EQ(sim.Position(), 4);
  TModemCounts after;
  ASSERT_TRUE(port->GetCommCounts(after, status));
  EXPECT_EQ(after.Cts - before.Cts, 8);
  EXPECT_EQ(after.Dsr - before.Dsr, 5);
  EXPECT_EQ((status & MS_CTS_ON) != 0, sim.CTS());
  EXPECT_EQ((status & MS_DSR_ON) != 0, sim.DSR());

  // Three missed, the rest counted; every change of CTS missed until kept again.
  sim.Turn(1, 5000);
  ASSERT_TRUE(port->GetCommCounts(before, status));
  EXPECT_EQ(before.Dsr - after.Dsr, 2);
  sim.DropEdges('C', -1);
  sim.Turn(-2, 5000);
  ASSERT_TRUE(port->GetCommCounts(after, status));
  EXPECT_EQ(after.Cts, before.Cts);
  EXPECT_EQ(after.Dsr - before.Dsr, 4);
  sim.KeepEdges();
  sim.Turn(1, 5000);
  ASSERT_TRUE(port->GetCommCounts(before, status));
  EXPECT_EQ(before.Cts - after.Cts, 2);
  EXPECT_EQ(sim.Position(), 4);
}

TEST(SimFault, DeadEncoderAlsoIgnoresTurningByHand) {
  TSimFocuser sim;
  sim.SetDeadEncoder(true);
  sim.Turn(2, 5000);
  EXPECT_EQ(sim.Position(), 0);
  EXPECT_NEAR(sim.ShaftPosition(), 2.125, 1e-9);
  EXPECT_FALSE(sim.CTS());
}

TEST(SimFault, JamStopsTheDrivenShaftUntilFreed) {
  TSimFocuser sim;
  auto port = sim.Open();
  TCountingReader reader(*port);
  ASSERT_TRUE(Send(*port, ":F-#"));
  ASSERT_TRUE(WaitFor([&] { return sim.Speed() > 100; }));
  const double jam = sim.ShaftPosition() + 40;
  sim.Jam(jam);
  // Driven against the jam the shaft stands there: settled, though its drive is on.
  ASSERT_TRUE(WaitStopped(sim));
  EXPECT_NEAR(sim.ShaftPosition(), jam, 1e-6);
  const int32_t at = sim.Position();
  ASSERT_TRUE(WaitFor([&] { return reader.Count() == at; }));

  // Freed, the motor still driven breaks loose and turns on.
  sim.Unjam();
  ASSERT_TRUE(WaitFor([&] { return sim.Position() > at + 10; }));
  ASSERT_TRUE(Send(*port, ":FQ#"));
  EXPECT_TRUE(WaitStopped(sim));
}

TEST(SimFault, JamBehindTheShaftHoldsTheOtherWay) {
  TSimFocuser sim;
  auto port = sim.Open();
  sim.Jam(-5);
  ASSERT_TRUE(Send(*port, ":F+#"));
  ASSERT_TRUE(WaitFor([&] { return sim.ShaftPosition() <= -5 + 1e-6 && sim.Speed() == 0; }));
  ASSERT_TRUE(Send(*port, ":FQ#"));
  // Driven away from it, the shaft turns freely.
  ASSERT_TRUE(Send(*port, ":F-#"));
  ASSERT_TRUE(WaitFor([&] { return sim.ShaftPosition() > 0; }));
  ASSERT_TRUE(Send(*port, ":FQ#"));
  EXPECT_TRUE(WaitStopped(sim));
}

}  // namespace
}  // namespace morvane::sim::test
