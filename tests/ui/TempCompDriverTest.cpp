// Temperature compensation driven on the simulated focuser through a cooling night: moves
// that follow the ideal focus within the dead band, none while held, no module reading while
// the focuser moves.
#include <algorithm>

#include "motion/MotionFixture.h"
#include "ui/TempCompDriver.h"

namespace morvane::test {
namespace {

class TempCompDriverTest : public MotionFixture {
 protected:
  void SetUp() override {
    sim::TSimParams params;
    params.TemperatureDrift = 0;
    params.TubePlay = 4;
    MakeController(params);
    Open();
    FactorySettings();
    Driver = std::make_unique<TTempCompDriver>(*Controller);
    Driver->SetIntervalMs(3'600'000);  // the test ticks it
  }
  void TearDown() override {
    Driver.reset();
    MotionFixture::TearDown();
  }
  // One tick; a move it starts is waited for.
  void TickAndSettle() {
    GeneralDelayEvent().ResetEvent();
    const int32_t before = Controller->CTSCount();
    Driver->Tick();
    if (Driver->LastAction() == TTempCompAction::taMove) {
      ASSERT_TRUE(WaitMoveFinished());
      SettledCount();
    } else {
      EXPECT_EQ(Controller->CTSCount(), before);
    }
  }
  static bool ReadsModule(const std::vector<sim::TTraceEntry>& trace) {
    const auto w = Writes(trace);
    return std::any_of(w.begin(), w.end(),
                       [](const std::string& s) { return s.rfind("MRV", 0) == 0; });
  }
  std::unique_ptr<TTempCompDriver> Driver;
};

TEST_F(TempCompDriverTest, ARampIsFollowedWithinTheDeadBandAndNothingMovesWhileHeld) {
  TCompensationSettings s;
  s.TempComp = true;
  s.TempCoefficient = -6;  // codes per degree: cooling moves the focus in
  s.TempSamples = 1;
  s.TempDeadBand = 4;
  s.BacklashMode = 1;
  s.BacklashCodes = 8;
  Driver->SetSettings(s);
  // The tube on the side every later approach keeps it.
  Controller->MoveBy(30);
  ASSERT_TRUE(WaitMoveFinished());
  SettledCount();
  Sim->SetTemperature(12.5);
  TickAndSettle();
  EXPECT_DOUBLE_EQ(Driver->Reference(), 12.5) << "the reference is taken at the first reading";
  const int32_t start = Controller->CTSCount();
  const double tubeStart = Sim->TubePosition();
  int moves = 0;
  // 5 degrees down in steps of a quarter degree; held for a stretch in the middle.
  for (int step = 1; step <= 20; ++step) {
    SCOPED_TRACE(step);
    const double t = 12.5 - 0.25 * step;
    Sim->SetTemperature(t);
    const bool held = step >= 8 && step <= 10;
    if (step == 8) Driver->Hold(":1.42");
    if (step == 11) Driver->Release(":1.42");
    const int32_t before = Controller->CTSCount();
    TickAndSettle();
    if (held) {
      EXPECT_EQ(Driver->LastAction(), TTempCompAction::taHeld);
      EXPECT_EQ(Controller->CTSCount(), before);
      continue;
    }
    if (Driver->LastAction() == TTempCompAction::taMove) ++moves;
    const double ideal = -6 * (t - 12.5);
    EXPECT_LE(std::abs(Controller->CTSCount() - start - ideal), s.TempDeadBand + 1.0);
    // Every final approach rises: the tube keeps its place against the count.
    EXPECT_LE(std::abs(Sim->TubePosition() - tubeStart - ideal), s.TempDeadBand + 1.0);
  }
  EXPECT_GE(moves, 4);
  EXPECT_LE(moves, 8) << "no move smaller than the dead band";
}

TEST_F(TempCompDriverTest, NoReadingDuringAMoveAndAFocusMovedByHandIsTheNewReference) {
  TCompensationSettings s;
  s.TempComp = true;
  s.TempCoefficient = 10;
  s.TempSamples = 1;
  s.TempDeadBand = 2;
  Driver->SetSettings(s);
  Sim->SetTemperature(10.0);
  TickAndSettle();
  Controller->MoveBy(300);
  ASSERT_TRUE(WaitUntil([&] { return Controller->CTSCount() > 20; }, 3000));
  Sim->ClearTrace();
  Sim->SetTemperature(15.0);
  Driver->Tick();
  EXPECT_EQ(Driver->LastAction(), TTempCompAction::taBusy);
  EXPECT_FALSE(ReadsModule(Sim->Trace()));
  ASSERT_TRUE(WaitMoveFinished());
  const int32_t refocused = SettledCount();
  TickAndSettle();
  EXPECT_EQ(Controller->CTSCount(), refocused) << "a refocus, not a drift";
  EXPECT_DOUBLE_EQ(Driver->Reference(), 15.0);

  // A failed reading pauses and says so.
  std::string said;
  Driver->OnStatus = [&said](const std::string& text) { said = text; };
  Sim->SetModuleMode(sim::TModuleMode::Absent);
  TickAndSettle();
  EXPECT_EQ(Driver->LastAction(), TTempCompAction::taReadingFailed);
  EXPECT_NE(said.find("reading failed"), std::string::npos);
  // An absent module is not probed again at every tick: each probe holds the window.
  Sim->ClearTrace();
  for (int i = 0; i < TTempCompDriver::AbsentRetryTicks; ++i) TickAndSettle();
  EXPECT_FALSE(ReadsModule(Sim->Trace()));
  EXPECT_EQ(Driver->LastAction(), TTempCompAction::taReadingFailed);
  Sim->SetModuleMode(sim::TModuleMode::Present);
  TickAndSettle();
  EXPECT_TRUE(ReadsModule(Sim->Trace())) << "looked for again after the pause";
  // A hold is told as one, also with no reading to go by, and so is its release.
  Driver->Hold(":1.7");
  Driver->Tick();
  EXPECT_EQ(said, "Temperature compensation held");
  Driver->Release(":1.7");
  EXPECT_EQ(said, "Temperature compensation released");
}

}  // namespace
}  // namespace morvane::test
