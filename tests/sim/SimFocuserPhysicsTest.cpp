// The simulated focuser's motor in real time, driven through its port by commands and by
// the modem lines.

#include <time.h>

#include <gtest/gtest.h>

#include "SimTestSupport.h"
#include "sim/SimFocuser.h"

namespace morvane::sim::test {
namespace {

class SimPhysics : public ::testing::Test {
 protected:
  SimPhysics() : Port(Sim.Open()) {}
  TSimFocuser Sim;
  std::unique_ptr<TSerialPort> Port;
};

// Count at the last write of `text` in the trace.
int32_t CountAtWrite(const TSimFocuser& sim, const std::string& text) {
  int32_t at = INT32_MIN;
  for (const auto& e : OfKind(sim.Trace(), TTraceKind::Write))
    if (e.Bytes == text) at = e.Position;
  return at;
}

TEST_F(SimPhysics, OneSecondSlowRunCountsAsItsSpeedSays) {
  ASSERT_TRUE(Send(*Port, ":F-#"));
  SleepFor(500ms);
  EXPECT_NEAR(Sim.Speed(), Sim.Params().SlowSpeed, 1.0);
  const int32_t half = Sim.Position();
  SleepFor(500ms);
  ASSERT_TRUE(Send(*Port, ":FQ#"));
  const int32_t end = CountAtWrite(Sim, ":FQ#");
  // Half a second at full speed, give or take the noise in the sleeps.
  EXPECT_GT(end - half, 0.4 * Sim.Params().SlowSpeed);
  EXPECT_LT(end - half, 0.7 * Sim.Params().SlowSpeed);
  // The whole second falls short only by the spin-up.
  EXPECT_GT(end, 0.85 * Sim.Params().SlowSpeed);
  EXPECT_LT(end, 1.3 * Sim.Params().SlowSpeed);
  ASSERT_TRUE(WaitStopped(Sim));
}

TEST_F(SimPhysics, RunStoppedByCommandCoastsOnSeveralCodes) {
  ASSERT_TRUE(Send(*Port, ":F-#"));
  SleepFor(300ms);
  ASSERT_TRUE(Send(*Port, ":FQ#"));
  const int32_t atStop = CountAtWrite(Sim, ":FQ#");
  ASSERT_TRUE(WaitStopped(Sim));
  // Enough that a stop 12 codes short leaves 1 to 4 codes to nudge.
  const int32_t coast = Sim.Position() - atStop;
  EXPECT_GE(coast, 8);
  EXPECT_LE(coast, 11);
}

TEST_F(SimPhysics, RunStoppedByLineCoastsOnSeveralCodes) {
  ASSERT_TRUE(Port->EscapeCommFunction(SETDTR));
  ASSERT_TRUE(Port->EscapeCommFunction(SETRTS));
  SleepFor(300ms);
  ASSERT_TRUE(Port->EscapeCommFunction(CLRRTS));
  const auto lines = OfKind(Sim.Trace(), TTraceKind::Line);
  ASSERT_FALSE(lines.empty());
  const int32_t atStop = lines.back().Position;
  ASSERT_TRUE(WaitStopped(Sim));
  const int32_t coast = Sim.Position() - atStop;
  EXPECT_GE(coast, 7);
  EXPECT_LE(coast, 10);
}

TEST_F(SimPhysics, ShortPulsesMoveAboutOneCodeEach) {
  ASSERT_TRUE(Port->EscapeCommFunction(SETDTR));
  double total = 0;
  constexpr int Pulses = 6;
  for (int i = 0; i < Pulses; ++i) {
    const double before = Sim.ShaftPosition();
    ASSERT_TRUE(Port->EscapeCommFunction(SETRTS));
    SleepFor(12ms);
    ASSERT_TRUE(Port->EscapeCommFunction(CLRRTS));
    ASSERT_TRUE(WaitStopped(Sim));
    const double moved = Sim.ShaftPosition() - before;
    // A late wake-up lengthens a pulse; a pulse never moves backwards or by many codes.
    EXPECT_GT(moved, 0.2) << "pulse " << i;
    EXPECT_LT(moved, 3.0) << "pulse " << i;
    total += moved;
  }
  EXPECT_GE(total / Pulses, 0.5);
  EXPECT_LE(total / Pulses, 2.0);
  EXPECT_NEAR(Sim.Position(), Sim.ShaftPosition(), 1.0);
}

TEST_F(SimPhysics, WithoutDriveNothingMoves) {
  const double at = Sim.ShaftPosition();
  SleepFor(150ms);
  EXPECT_FALSE(Sim.Moving());
  EXPECT_EQ(Sim.ShaftPosition(), at);
  EXPECT_EQ(Sim.Position(), 0);
  EXPECT_TRUE(EdgesOf(Sim.Trace(), 'C').empty());
  // DTR alone selects a direction but does not power the motor.
  ASSERT_TRUE(Port->EscapeCommFunction(SETDTR));
  SleepFor(50ms);
  EXPECT_FALSE(Sim.Moving());
  EXPECT_EQ(Sim.ShaftPosition(), at);
}

TEST_F(SimPhysics, AfterACoastTheShaftStaysPut) {
  ASSERT_TRUE(Send(*Port, ":F+#"));
  SleepFor(100ms);
  ASSERT_TRUE(Send(*Port, ":FQ#"));
  ASSERT_TRUE(WaitStopped(Sim));
  const double at = Sim.ShaftPosition();
  const size_t edges = EdgesOf(Sim.Trace(), 'C').size();
  SleepFor(100ms);
  EXPECT_EQ(Sim.ShaftPosition(), at);
  EXPECT_EQ(EdgesOf(Sim.Trace(), 'C').size(), edges);
}

TEST_F(SimPhysics, DirectModeRtsPowersAndDtrSelectsTheDirection) {
  ASSERT_TRUE(Port->EscapeCommFunction(SETDTR));
  ASSERT_TRUE(Port->EscapeCommFunction(SETRTS));
  SleepFor(100ms);
  EXPECT_GT(Sim.Speed(), 0);
  ASSERT_TRUE(Port->EscapeCommFunction(CLRDTR));
  SleepFor(150ms);
  EXPECT_LT(Sim.Speed(), 0);
  ASSERT_TRUE(Port->EscapeCommFunction(CLRRTS));
  ASSERT_TRUE(WaitStopped(Sim));
  const auto edges = EdgesOf(Sim.Trace(), 'C');
  ASSERT_FALSE(edges.empty());
  // Up, then back down past where it turned.
  int32_t peak = 0;
  for (const auto& e : edges) peak = std::max(peak, e.Position);
  EXPECT_GT(peak, 10);
  EXPECT_LT(Sim.Position(), peak - 5);
}

TEST_F(SimPhysics, CommandsSelectDirectionAndSpeed) {
  ASSERT_TRUE(Send(*Port, ":F+#"));
  SleepFor(200ms);
  EXPECT_NEAR(Sim.Speed(), -Sim.Params().SlowSpeed, 0.03 * Sim.Params().SlowSpeed);
  EXPECT_LT(Sim.Position(), -30);
  ASSERT_TRUE(Send(*Port, ":FF#"));
  SleepFor(200ms);
  EXPECT_NEAR(Sim.Speed(), -Sim.Params().FastSpeed, 0.03 * Sim.Params().FastSpeed);
  ASSERT_TRUE(Send(*Port, ":FQ#"));
  ASSERT_TRUE(WaitStopped(Sim));
  // The speed chosen stays chosen for the next run.
  ASSERT_TRUE(Send(*Port, ":F-#"));
  SleepFor(50ms);
  EXPECT_GT(Sim.Speed(), Sim.Params().SlowSpeed);
  ASSERT_TRUE(Send(*Port, ":FQ#"));
  ASSERT_TRUE(WaitStopped(Sim));
}

TEST_F(SimPhysics, RtsDriveTakesPrecedenceAndItsClearCutsTheCommandDrive) {
  ASSERT_TRUE(Send(*Port, ":F+#"));
  ASSERT_TRUE(Port->EscapeCommFunction(SETDTR));
  ASSERT_TRUE(Port->EscapeCommFunction(SETRTS));
  SleepFor(100ms);
  EXPECT_GT(Sim.Speed(), 0);
  // The hub cuts the handset's drive along with RTS.
  ASSERT_TRUE(Port->EscapeCommFunction(CLRRTS));
  ASSERT_TRUE(WaitStopped(Sim));
  SleepFor(30ms);
  EXPECT_FALSE(Sim.Moving());
}

TEST_F(SimPhysics, ClearingRtsEndsACommandDrivenPulse) {
  ASSERT_TRUE(Send(*Port, ":F-#"));
  ASSERT_TRUE(WaitFor([&] { return Sim.Moving(); }, 500ms));
  ASSERT_TRUE(Port->EscapeCommFunction(CLRRTS));
  const int32_t atCut = OfKind(Sim.Trace(), TTraceKind::Line).back().Position;
  ASSERT_TRUE(WaitStopped(Sim));
  const int32_t at = Sim.Position();
  EXPECT_LE(at - atCut, 9) << "no more than a coast";
  SleepFor(50ms);
  EXPECT_EQ(Sim.Position(), at);
}

TEST(SimHandsetAlone, WithoutTheHubCutTheHandsetDrivesOnUntilStopped) {
  TSimParams p;
  p.ClearRtsStopsCommandDrive = false;
  TSimFocuser sim(p);
  auto port = sim.Open();
  ASSERT_TRUE(Send(*port, ":F+#"));
  ASSERT_TRUE(port->EscapeCommFunction(SETDTR));
  ASSERT_TRUE(port->EscapeCommFunction(SETRTS));
  SleepFor(100ms);
  EXPECT_GT(sim.Speed(), 0);
  // Released, the handset's drive takes over again.
  ASSERT_TRUE(port->EscapeCommFunction(CLRRTS));
  SleepFor(150ms);
  EXPECT_LT(sim.Speed(), 0);
  ASSERT_TRUE(Send(*port, ":FQ#"));
  ASSERT_TRUE(WaitStopped(sim));
}

TEST_F(SimPhysics, CommandsAreFoundInAByteStream) {
  // Keep-alives, noise, a broken frame, and a command split across writes.
  ASSERT_TRUE(Send(*Port, "5"));
  ASSERT_TRUE(Send(*Port, "x#:FX#:F"));
  ASSERT_TRUE(Send(*Port, "5"));
  SleepFor(30ms);
  EXPECT_FALSE(Sim.Moving());
  ASSERT_TRUE(Send(*Port, ":F"));
  ASSERT_TRUE(Send(*Port, "-#"));
  EXPECT_TRUE(WaitFor([&] { return Sim.Moving(); }, 500ms));
  // A stop inside other traffic still stops.
  ASSERT_TRUE(Send(*Port, "5MRV08?????\r:FQ#5"));
  ASSERT_TRUE(WaitStopped(Sim));
  EXPECT_GT(Sim.Position(), 0);
}

TEST_F(SimPhysics, CommandTakesEffectWhenItsLastByteArrives) {
  ASSERT_TRUE(Send(*Port, ":F-#"));
  ASSERT_TRUE(WaitFor([&] { return !EdgesOf(Sim.Trace(), 'C').empty(); }));
  const auto trace = Sim.Trace();
  const int64_t written = OfKind(trace, TTraceKind::Write).front().Us;
  const int64_t firstEdge = EdgesOf(trace, 'C').front().Us;
  // Four characters on the wire (4.2 ms), breakaway, and spin-up to the first code.
  EXPECT_GT(firstEdge - written, 5000);
  EXPECT_LT(firstEdge - written, 100000);
  ASSERT_TRUE(Send(*Port, ":FQ#"));
  ASSERT_TRUE(WaitStopped(Sim));
}

TEST(SimIdle, PhysicsThreadUsesNoProcessorWhileAtRest) {
  TSimFocuser sim;
  auto port = sim.Open();
  ASSERT_TRUE(Send(*port, ":F-#"));
  SleepFor(50ms);
  ASSERT_TRUE(Send(*port, ":FQ#"));
  ASSERT_TRUE(WaitStopped(sim));
  timespec a{}, b{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &a);
  SleepFor(200ms);
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &b);
  const double used = (b.tv_sec - a.tv_sec) + (b.tv_nsec - a.tv_nsec) / 1e9;
  // A polling thread would use most of the 200 ms.
  EXPECT_LT(used, 0.02);
}

}  // namespace
}  // namespace morvane::sim::test
