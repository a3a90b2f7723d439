// The stall guard on the simulated focuser: a run into an end stop, a pulled encoder cable
// and a jam each end with the motor stopped, the move ended as a Stop ends it, and the fault
// told before the move's end; a coarse run ends too.
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

#include "MotionFixture.h"
#include "sim/SimModels.h"

namespace morvane::test {
namespace {

// The line's steps for a failure message.
std::string Steps(const std::vector<sim::TTraceEntry>& trace) {
  std::string out;
  for (const auto& e : trace) {
    if (e.Kind == sim::TTraceKind::Write)
      out += std::to_string(e.Us) + " " + e.Bytes + "; ";
    else if (e.Kind == sim::TTraceKind::Line)
      out += std::to_string(e.Us) + (e.Line == 'R' ? " RTS" : " DTR") + (e.Level ? "+; " : "-; ");
  }
  return out;
}

// A stop on the line after the given time: ":FQ#" written, or RTS cleared.
bool StopAfter(const std::vector<sim::TTraceEntry>& trace, int64_t us) {
  for (const auto& e : trace) {
    if (e.Us <= us) continue;
    if (e.Kind == sim::TTraceKind::Write && e.Bytes == ":FQ#") return true;
    if (e.Kind == sim::TTraceKind::Line && e.Line == 'R' && !e.Level) return true;
  }
  return false;
}

class StallGuardTest : public MotionFixture {
 protected:
  // End stops 0.5 turn (256 codes) either way of the start, so that a run meets one soon;
  // travelRevs 0 keeps the model's own.
  void Near(sim::TSimParams params = {}, double travelRevs = 0.5) {
    if (travelRevs > 0) params.TravelRevs = travelRevs;
    MakeController(params);
    {
      std::lock_guard lock(FaultLock);
      Faults.clear();
      CountFaults.clear();
    }
    Controller->OnStallFault = [this](TFocusControl*, const std::string& text) {
      std::lock_guard lock(FaultLock);
      Faults.push_back(text);
      FaultUs = NowUs();
      IdleReportsAtFault = IdleReports().size();
    };
    Controller->OnCountFault = [this](TFocusControl*, const std::string& text) {
      std::lock_guard lock(FaultLock);
      CountFaults.push_back(text);
    };
    Open();
    FactorySettings();
  }
  std::vector<std::string> FaultTexts() {
    std::lock_guard lock(FaultLock);
    return Faults;
  }
  // The move ended as every move ends, after the fault was told, and nothing drove after it.
  void ExpectEndedByStall(const std::string& where) {
    ASSERT_TRUE(WaitMoveFinished(30000)) << where;
    ASSERT_TRUE(WaitIdleReports(2, 30000)) << where;
    ASSERT_EQ(FaultTexts().size(), 1u) << where;
    EXPECT_EQ(IdleReports(), (std::vector<bool>{false, true})) << where;
    EXPECT_EQ(IdleReportsAtFault, 1u) << where << ": the fault came after the idle report";
    // The thread that reported idle ends just after.
    EXPECT_TRUE(WaitUntil([&] { return !Controller->MovementRunning(); }, 5000)) << where;
    EXPECT_TRUE(Controller->Idle());
    EXPECT_TRUE(WaitUntil([&] { return !Sim->Moving(); }, 5000)) << where << ": runs on";
    EXPECT_FALSE(Sim->RTS());
    EXPECT_TRUE(StopAfter(Sim->Trace(), FaultUs - 1)) << where;
    EXPECT_EQ(DriveAfter(Sim->Trace(), FaultUs), "") << where << ": driven after the stall";
    EXPECT_EQ(Controller->StallCount(), 1u);
    EXPECT_EQ(Controller->LastFault(), FaultTexts()[0]);
  }

  std::mutex FaultLock;
  std::vector<std::string> Faults;
  std::vector<std::string> CountFaults;  // the count's own check
  std::atomic<int64_t> FaultUs{0};
  std::atomic<size_t> IdleReportsAtFault{0};
};

TEST_F(StallGuardTest, RunIntoTheEndStopEndsAtTheStop) {
  for (bool direct : {false, true}) {
    SCOPED_TRACE(direct ? "direct" : "LX-200");
    Near();
    Controller->SetUseRTS_DTR(direct);
    Controller->MoveTo(direct ? -1000 : 1000);
    ExpectEndedByStall("end stop");
    const int32_t stop = direct ? -256 : 256;
    EXPECT_NEAR(Controller->CTSCount(), stop, 1);
    EXPECT_EQ(FaultTexts()[0], "Stopped at " + std::to_string(Controller->CTSCount()) +
                                   ": no encoder change for 0.5 s, an end stop or the encoder");
  }
}

TEST_F(StallGuardTest, PulledEncoderCableEndsTheRun) {
  // The real end stops: the motor would turn on for a minute without the guard.
  Near({}, 0);
  Controller->MoveBy(5000);
  ASSERT_TRUE(WaitUntil([&] { return Controller->CTSCount() > 50; }, 10000));
  Sim->SetDeadEncoder(true);
  ExpectEndedByStall("encoder cable");
  // The shaft turned on beyond the last code until the guard stopped it.
  EXPECT_GT(Sim->ShaftPosition(), Controller->CTSCount());
  EXPECT_LT(Controller->CTSCount(), 5000);
}

TEST_F(StallGuardTest, JamMidTravelEndsTheRunOnEveryModel) {
  for (const auto& model : sim::MotorModels()) {
    SCOPED_TRACE(model.Name);
    Near(model.Params);
    Sim->Jam(Sim->ShaftPosition() + 100);
    Controller->MoveBy(200);
    ExpectEndedByStall(model.Name);
    EXPECT_LE(Controller->CTSCount(), 100);
  }
}

// A counting thread kept from the processor for longer than the stall time sees no change for
// that long; the port's counters show the motor turning, so it runs on. A jam meanwhile still
// stops it.
TEST_F(StallGuardTest, AStarvedCountingThreadIsNoStallButAJamStillIs) {
  // A UART: a wait that returns late reports every change meanwhile at once.
  sim::TSimParams params;
  params.MergeEdges = true;
  Near(params, 0);
  Sim->SetReaderDelay(750'000);
  const int32_t start = Controller->CTSCount();
  Controller->StartMove(true, 0);
  ASSERT_TRUE(WaitUntil([&] { return std::abs(Controller->CTSCount() - start) > 600; }, 30000))
      << Controller->LastFault();
  EXPECT_TRUE(FaultTexts().empty()) << FaultTexts()[0];
  EXPECT_TRUE(Controller->CoarseRunning());
  EXPECT_TRUE(Sim->Moving());

  const double shaft = Sim->ShaftPosition();
  const double ahead = Sim->Speed() > 0 ? 1 : -1;
  Sim->Jam(shaft + ahead * 200);
  ASSERT_TRUE(WaitUntil([&] { return !FaultTexts().empty(); }, 30000));
  EXPECT_TRUE(WaitUntil([&] { return !Sim->Moving(); }, 5000));
  EXPECT_FALSE(Controller->CoarseRunning());
  EXPECT_EQ(Controller->StallCount(), 1u);
  EXPECT_NEAR(Sim->ShaftPosition(), shaft + ahead * 200, 1);
  Sim->SetReaderDelay(0);
}

// Edges of one line missed during a move: told once, with the count's place, until the user
// says where the focuser is; then the next loss is told again. A healthy move tells nothing.
TEST_F(StallGuardTest, EdgesLostOnOneLineAreToldOnce) {
  Near({}, 0);
  const auto toldCount = [&] {
    std::lock_guard guard(FaultLock);
    return CountFaults.size();
  };
  Controller->MoveBy(300);
  ASSERT_TRUE(WaitMoveFinished(30000));
  EXPECT_EQ(toldCount(), 0u);

  for (char line : {'S', 'C'}) {
    SCOPED_TRACE(line);
    const size_t before = toldCount();
    const size_t idles = IdleReports().size();
    const int32_t start = Controller->CTSCount();
    Controller->MoveBy(1500);
    ASSERT_TRUE(WaitUntil([&] { return Controller->CTSCount() - start > 100; }, 10000));
    Sim->DropEdges(line, 4);
    ASSERT_TRUE(WaitUntil([&] { return toldCount() == before + 1; }, 10000));
    // More lost in the same move: no second warning.
    Sim->DropEdges(line, 4);
    ASSERT_TRUE(WaitUntil([&] { return IdleReports().size() >= idles + 2; }, 30000));
    EXPECT_EQ(toldCount(), before + 1);
    EXPECT_EQ(Controller->LastFault().rfind("Encoder edges lost at ", 0), 0u)
        << Controller->LastFault();
    EXPECT_EQ(Controller->StallCount(), 0u);
    Controller->TrustCount();
  }
  EXPECT_EQ(Controller->EdgeLossCount(), 2u);
}

TEST_F(StallGuardTest, CoarseRunIntoTheEndStopStops) {
  Near();
  Controller->StartMove(false, 0);
  ASSERT_TRUE(WaitUntil([&] { return !FaultTexts().empty(); }, 30000));
  // The stop follows the fault's report.
  EXPECT_TRUE(WaitUntil([&] { return StopAfter(Sim->Trace(), FaultUs - 1); }, 5000))
      << Steps(Sim->Trace()) << " fault at " << FaultUs;
  EXPECT_TRUE(WaitUntil([&] { return !Sim->Moving(); }, 5000));
  EXPECT_FALSE(Controller->CoarseRunning());
  EXPECT_NEAR(Controller->CTSCount(), -256, 1);
  EXPECT_EQ(DriveAfter(Sim->Trace(), FaultUs), "");
  // A coarse run is no move by or to a count: no idle report, nothing left running.
  EXPECT_TRUE(IdleReports().empty());
  EXPECT_FALSE(Controller->MovementRunning());
  // The next move starts with no fault.
  Controller->MoveBy(20);
  EXPECT_EQ(Controller->LastFault(), "");
  ASSERT_TRUE(WaitMoveFinished(30000));
  EXPECT_EQ(Controller->StallCount(), 1u);
}

TEST_F(StallGuardTest, AfterAStallTheMotorRunsAwayFromTheStop) {
  for (bool direct : {false, true}) {
    SCOPED_TRACE(direct ? "direct" : "LX-200");
    Near();
    Controller->SetUseRTS_DTR(direct);
    Controller->StartMove(true, 0);
    ASSERT_TRUE(WaitUntil([&] { return Controller->StallCount() == 1; }, 30000));
    const int32_t stop = Controller->CTSCount();
    EXPECT_NEAR(std::abs(stop), 256, 1);
    ASSERT_TRUE(WaitUntil([&] { return StopAfter(Sim->Trace(), FaultUs - 1); }, 5000));
    Controller->StartMove(false, 0);
    EXPECT_TRUE(WaitUntil([&] { return std::abs(Controller->CTSCount() - stop) > 20; }, 10000))
        << Steps(Sim->Trace());
    Controller->StopMotor();
    EXPECT_EQ(Controller->StallCount(), 1u);
  }
}

TEST_F(StallGuardTest, StallTimeIsTheFloor) {
  Near();
  Controller->SetStallTime(1.5);
  EXPECT_DOUBLE_EQ(Controller->StallTime(), 1.5);
  Controller->MoveTo(1000);
  ExpectEndedByStall("end stop");
  EXPECT_NE(FaultTexts()[0].find("for 1.5 s"), std::string::npos) << FaultTexts()[0];
  // Out of range or nonsense: the nearest sensible time, or the factory one.
  Controller->SetStallTime(0);
  EXPECT_DOUBLE_EQ(Controller->StallTime(), 0.5);
  Controller->SetStallTime(0.001);
  EXPECT_DOUBLE_EQ(Controller->StallTime(), 0.1);
  Controller->SetStallTime(1e9);
  EXPECT_DOUBLE_EQ(Controller->StallTime(), 10);
}

}  // namespace
}  // namespace morvane::test
