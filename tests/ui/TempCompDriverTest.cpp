// Temperature compensation driven on the simulated focuser through a cooling night: moves
// that follow the ideal focus within the dead band, none while held, no module reading while
// the focuser moves, and none on bad data: a reference no tube has, a re-read settings file,
// garbled or flickering readings.
#include <algorithm>

#include "console/TempCompDriver.h"
#include "motion/MotionFixture.h"

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
  // Compensation switched on, its reference taken at 12.5 degrees; the settings the driver
  // asks to keep are what the file holds.
  TCompensationSettings StartAt12_5(double coefficient, int32_t samples, int32_t deadBand) {
    TCompensationSettings s;
    s.TempComp = true;
    s.TempCoefficient = coefficient;
    s.TempSamples = samples;
    s.TempDeadBand = deadBand;
    Driver->OnReferenceTaken = [this](const TCompensationSettings& kept) { File = kept; };
    Driver->SetSettings(s);
    Sim->SetTemperature(12.5);
    for (int i = 0; i < samples; ++i) TickAndSettle();
    EXPECT_FALSE(Driver->ReferencePending());
    EXPECT_DOUBLE_EQ(Driver->Reference(), 12.5);
    return File;
  }
  // Ticks, counting the compensation moves.
  int TicksMoving(int ticks) {
    int moves = 0;
    for (int i = 0; i < ticks; ++i) {
      TickAndSettle();
      if (Driver->LastAction() == TTempCompAction::taMove) ++moves;
    }
    return moves;
  }
  std::unique_ptr<TTempCompDriver> Driver;
  TCompensationSettings File;
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
  Sim->SetTemperature(11.5);  // within what a tube can change in one interval
  Driver->Tick();
  EXPECT_EQ(Driver->LastAction(), TTempCompAction::taBusy);
  EXPECT_FALSE(ReadsModule(Sim->Trace()));
  ASSERT_TRUE(WaitMoveFinished());
  const int32_t refocused = SettledCount();
  TickAndSettle();
  EXPECT_EQ(Controller->CTSCount(), refocused) << "a refocus, not a drift";
  EXPECT_DOUBLE_EQ(Driver->Reference(), 11.5);

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

TEST_F(TempCompDriverTest, AReferenceNoTubeHasIsRetakenNotCompensated) {
  for (const double reference : {100.0, 99999999999.0, -60.0}) {
    SCOPED_TRACE(reference);
    TCompensationSettings s = StartAt12_5(8, 1, 5);
    const int32_t start = Controller->CTSCount();
    // A file edited by hand and re-read.
    s.TempReference = reference;
    Driver->SetSettings(s);
    EXPECT_TRUE(Driver->ReferencePending());
    EXPECT_EQ(TicksMoving(3), 0);
    EXPECT_EQ(Controller->CTSCount(), start);
    EXPECT_DOUBLE_EQ(Driver->Reference(), 12.5) << "taken again from the reading";
    EXPECT_DOUBLE_EQ(File.TempReference, 12.5) << "and kept";
    s.TempComp = false;
    Driver->SetSettings(s);
  }
}

TEST_F(TempCompDriverTest, AReReadAfterACompensationMoveRepeatsNoMove) {
  StartAt12_5(-8, 1, 5);
  Sim->SetTemperature(11.5);
  TickAndSettle();
  ASSERT_EQ(Driver->LastAction(), TTempCompAction::taMove);
  EXPECT_EQ(Driver->LastMove(), 8);
  EXPECT_DOUBLE_EQ(File.TempReference, Driver->Reference()) << "kept with the move";
  const int32_t after = Controller->CTSCount();
  // SIGHUP: the file read again.
  Driver->SetSettings(File);
  EXPECT_EQ(TicksMoving(3), 0);
  EXPECT_EQ(Controller->CTSCount(), after);
}

TEST_F(TempCompDriverTest, AGarbledReadingAmongTheSamplesMovesNothing) {
  for (const int samples : {10, 1}) {
    SCOPED_TRACE(samples);
    TCompensationSettings s = StartAt12_5(-8, samples, 5);
    const int32_t start = Controller->CTSCount();
    // Out of range (the mean of ten was 51.25: -310 codes), then a jump to 0 (+100 codes).
    for (const char* reply : {"MRV09400.0", "MRV09000.0", "MRV09ab.cd"}) {
      SCOPED_TRACE(reply);
      Sim->SetNextModuleReply(reply);
      TickAndSettle();
      EXPECT_NE(Driver->LastAction(), TTempCompAction::taMove);
      EXPECT_EQ(TicksMoving(samples), 0) << "nor once it has gone";
    }
    EXPECT_EQ(Controller->CTSCount(), start);
    s.TempComp = false;
    Driver->SetSettings(s);
  }
}

TEST_F(TempCompDriverTest, AFieldThatIsNoNumberIsAFailedReading) {
  StartAt12_5(-8, 1, 5);
  Sim->SetNextModuleReply("MRV09ab.cd");
  EXPECT_NO_THROW(Driver->Tick());
  EXPECT_EQ(Driver->LastAction(), TTempCompAction::taReadingFailed);
  TickAndSettle();
  EXPECT_EQ(Driver->LastAction(), TTempCompAction::taNone) << "the next reading is good again";
}

TEST_F(TempCompDriverTest, AReadingFlickeringByOneDigitMovesNothing) {
  // 86 codes per degree: one digit is 8.6 codes, past a dead band of 2 (20 ticks moved 20 times).
  StartAt12_5(86, 1, 2);
  const int32_t start = Controller->CTSCount();
  int moves = 0;
  for (int tick = 0; tick < 20; ++tick) {
    Sim->SetTemperature(tick % 2 ? 12.5 : 12.6);
    moves += TicksMoving(1);
  }
  EXPECT_EQ(moves, 0);
  EXPECT_EQ(Controller->CTSCount(), start);
  // A real change of two digits is still followed.
  Sim->SetTemperature(12.7);
  EXPECT_EQ(TicksMoving(1), 1);
  EXPECT_EQ(Driver->LastMove(), 17);
}

TEST_F(TempCompDriverTest, ARealJumpIsFollowedOnceASecondReadingConfirmsIt) {
  StartAt12_5(-10, 1, 5);
  Sim->SetTemperature(9.5);  // three degrees at once, e.g. after a long hold
  TickAndSettle();
  EXPECT_EQ(Driver->LastAction(), TTempCompAction::taReadingFailed);
  TickAndSettle();
  EXPECT_EQ(Driver->LastAction(), TTempCompAction::taMove);
  EXPECT_EQ(Driver->LastMove(), 20) << "four dead bands at most in one tick";
  EXPECT_EQ(TicksMoving(3), 1) << "the rest at the next tick";
  EXPECT_EQ(Driver->LastMove(), 10);
  EXPECT_NEAR(Driver->Reference(), 9.5, 1e-9);
}

}  // namespace
}  // namespace morvane::test
