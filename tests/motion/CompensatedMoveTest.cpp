// Backlash compensation on a simulated focuser whose draw tube sits across a gear play from
// the encoder shaft.
#include "MotionFixture.h"

namespace morvane::test {
namespace {

constexpr double TubePlay = 6.0;

class CompensatedMoveTest : public MotionFixture {
 protected:
  void SetUp() override {
    sim::TSimParams params;
    params.TubePlay = TubePlay;
    MakeController(params);
    Open();
    FactorySettings();
  }
  // Moves to target as one move: busy once, idle once, the signal at its end.
  double TubeAfterMoveTo(int32_t target) {
    ClearReports();
    GeneralDelayEvent().ResetEvent();
    Controller->MoveTo(target);
    EXPECT_TRUE(WaitMoveFinished());
    EXPECT_TRUE(WaitIdleReports(2, 2000));
    EXPECT_EQ(IdleReports(), (std::vector<bool>{false, true}));
    SettledCount();
    return Sim->TubePosition();
  }
};

TEST_F(CompensatedMoveTest, TheTubeLandsInOnePlaceFromEitherSideWithCompensationOn) {
  Controller->ApproachMode.store(1);
  Controller->ApproachCodes.store(10);
  TubeAfterMoveTo(300);
  Sim->ClearTrace();
  const double onAbove = TubeAfterMoveTo(150);
  // Past the target and back: the final drive goes up.
  const auto writes = Writes(Sim->Trace());
  ASSERT_FALSE(writes.empty());
  EXPECT_NE(std::find(writes.begin(), writes.end(), ":F-#"), writes.end());
  // The last motion rose: the tube trails the shaft by the whole play's half.
  EXPECT_NEAR(Sim->ShaftPosition() - Sim->TubePosition(), TubePlay / 2, 0.01);
  TubeAfterMoveTo(0);
  const double onBelow = TubeAfterMoveTo(150);
  EXPECT_NEAR(onAbove, onBelow, 1.0);
}

TEST_F(CompensatedMoveTest, StopEndsBothLegsAndASupersedingMoveReplacesThem) {
  Controller->ApproachMode.store(1);
  Controller->ApproachCodes.store(40);
  TubeAfterMoveTo(200);
  ClearReports();
  Controller->MoveTo(0);
  ASSERT_TRUE(WaitUntil([&] { return Controller->CTSCount() < 150; }, 3000));
  Controller->CancelMovementAndWait();
  const int32_t stopped = SettledCount();
  std::this_thread::sleep_for(WatchTheLine);
  EXPECT_EQ(Controller->CTSCount(), stopped) << "no last leg after a Stop";
  EXPECT_GT(stopped, 0);
  EXPECT_EQ(IdleReports(), (std::vector<bool>{false, true}));

  // Superseded during its first leg, the move ends where the new one goes, in one busy time.
  ClearReports();
  GeneralDelayEvent().ResetEvent();
  Controller->MoveTo(-300);
  ASSERT_TRUE(WaitUntil([&] { return Controller->CTSCount() < stopped - 40; }, 3000));
  Controller->MoveTo(stopped + 60);
  ASSERT_TRUE(WaitMoveFinished());
  EXPECT_TRUE(WaitIdleReports(2, 2000));
  EXPECT_NEAR(SettledCount(), stopped + 60, 2);
  EXPECT_EQ(IdleReports(), (std::vector<bool>{false, true}));
}

}  // namespace
}  // namespace morvane::test
