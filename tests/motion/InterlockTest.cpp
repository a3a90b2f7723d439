// Waits for another party: the camera interlock on "FOCUSER_WAIT_EVENT" and the end-move
// thread's hand-over on "THE_CTS_EVENT", with their messages when they run out.
#include "MotionFixture.h"

namespace morvane::test {
namespace {

class TCamera : public TCameraControl {
 public:
  bool State() const override {
    ++Asked;  // just before a move waits for permission, unless the camera is ready
    return Ready.load();
  }
  std::atomic<bool> Ready{false};
  mutable std::atomic<int> Asked{0};
};

class InterlockTest : public MotionFixture {
 protected:
  void SetUp() override {
    MotionFixture::SetUp();
    Controller->Timeouts.InterlockWaitMs = 300;
    Controller->Timeouts.HandOverWaitMs = 400;
    Controller->CameraControl.store(&Camera);
    FocuserWaitEvent().ResetEvent();
  }
  void TearDown() override {
    Controller.reset();  // before the camera it points at
    MotionFixture::TearDown();
  }
  TCamera Camera;
};

TEST_F(InterlockTest, StandAloneNudgeWaitsForPermissionThenReportsTheTimeOut) {
  Controller->SBIGInterlock.store(true);
  // Nobody closes the box for a long while: the move does not wait for it.
  Host.MessageCloseMs = 4000;
  const auto start = std::chrono::steady_clock::now();
  Controller->MoveBy(3);
  ASSERT_TRUE(Host.WaitForMessages(1, 3000));
  EXPECT_EQ(Host.Messages()[0], "Time out during interlocked nudging");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(280));
  ASSERT_TRUE(WaitMoveFinished(3500));
  EXPECT_EQ(Host.OpenBoxes.load(), 1) << "the move ended while the box still showed";
  EXPECT_EQ(Writes(Sim->Trace()).front(), ":FS#");
  EXPECT_GE(SettledCount(), 3);
}

TEST_F(InterlockTest, PermissionFromAnotherProgramLetsTheNudgeGoWithoutMessage) {
  Controller->SBIGInterlock.store(true);
  Controller->Timeouts.InterlockWaitMs = 5000;
  Controller->MoveBy(3);
  ASSERT_TRUE(WaitUntil([&] { return Camera.Asked > 0; }, 5000));
  std::this_thread::sleep_for(WatchTheLine);
  EXPECT_TRUE(Writes(Sim->Trace()).empty());
  FocuserWaitEvent().SetEvent();
  ASSERT_TRUE(WaitMoveFinished());
  EXPECT_TRUE(Host.Messages().empty());
}

TEST_F(InterlockTest, ReadyCameraSkipsTheInterlock) {
  Controller->SBIGInterlock.store(true);
  Camera.Ready.store(true);
  Controller->MoveBy(3);
  ASSERT_TRUE(WaitMoveFinished(3000));
  EXPECT_TRUE(Host.Messages().empty());
}

TEST_F(InterlockTest, MissingHandOverIsReportedAndTheNudgesStartAnyway) {
  Sim->SetDeadEncoder(true);  // the run never reaches its stop point
  Controller->MoveBy(50);
  ASSERT_TRUE(Host.WaitForMessages(1, 3000));
  EXPECT_EQ(Host.Messages()[0], "Time out during nudging");
  EXPECT_TRUE(WaitUntil([&] { return CountOf(Writes(Sim->Trace()), ":FS#") == 1; }, 1000));
  Controller->CancelMovement();
  EXPECT_TRUE(WaitMoveFinished(3000));
}

TEST_F(InterlockTest, MoveItThreadReportsItsTimeOutThenStartsTheRun) {
  FactorySettings();
  Controller->JMIFlag.store(true);
  Controller->SBIGInterlock.store(true);
  Controller->MoveBy(40);
  ASSERT_TRUE(Host.WaitForMessages(1, 3000));
  EXPECT_EQ(Host.Messages()[0], "Time out during focuser movement");
  ASSERT_TRUE(WaitMoveFinished());
  auto writes = Writes(Sim->Trace());
  ASSERT_GE(writes.size(), 2u);
  EXPECT_EQ(writes[0], ":FQ#");
  EXPECT_EQ(writes[1], ":F-#");
  EXPECT_GE(SettledCount(), 40);
}

TEST_F(InterlockTest, CancelWhileTheMoveItThreadWaitsStartsNoRun) {
  Controller->JMIFlag.store(true);
  Controller->SBIGInterlock.store(true);
  Controller->Timeouts.InterlockWaitMs = 5000;
  Controller->MoveBy(40);
  ASSERT_TRUE(WaitUntil([&] { return Camera.Asked > 0; }, 5000));  // at the interlock
  Controller->CancelMovement();
  ASSERT_TRUE(WaitMoveFinished(3000));
  std::this_thread::sleep_for(WatchTheLine);
  EXPECT_EQ(CountOf(Writes(Sim->Trace()), ":F-#"), 0u) << "no run, and no drive after the cancel";
  EXPECT_TRUE(Host.Messages().empty());
  EXPECT_LE(Sim->Position(), 3);
}

TEST_F(InterlockTest, RunPausedByInterruptsOffIsDrivenAgainAfterwards) {
  FactorySettings();
  Controller->SetUseRTS_DTR(true);               // clearing RTS stops the motor in direct mode
  Controller->Timeouts.HandOverWaitMs = 120000;  // the nudges wait for the run however long
  Controller->MoveBy(200);
  ASSERT_TRUE(WaitUntil([&] { return Controller->CTSCount() > 20; }, 3000));
  Controller->SetInterruptsOff(true);
  EXPECT_TRUE(Controller->Paused.load());
  SettledCount();
  const int32_t held = Controller->CTSCount();
  Sim->ClearTrace();
  std::this_thread::sleep_for(WatchTheLine);
  EXPECT_TRUE(Steps(Sim->Trace()).empty()) << "nothing is sent while paused";
  EXPECT_EQ(Controller->CTSCount(), held);
  Controller->SetInterruptsOff(false);
  ASSERT_TRUE(WaitMoveFinished());
  EXPECT_FALSE(Controller->Paused.load());
  const int32_t end = SettledCount();
  ExpectLanded(end, 200);
  auto steps = Texts(Steps(Sim->Trace()));
  ASSERT_GE(steps.size(), 2u);
  EXPECT_EQ(steps[0], "DTR+") << "the run command is repeated";
  EXPECT_EQ(steps[1], "RTS+");
}

}  // namespace
}  // namespace morvane::test
