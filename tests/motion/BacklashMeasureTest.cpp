// "Measure backlash" on the simulated focuser in real time: the play between the motor and the
// encoder is measured, play past the encoder is said not to be seen, and Stop ends it.
#include <optional>

#include "MotionFixture.h"
#include "motion/BacklashThread.h"

namespace morvane::test {
namespace {

class BacklashMeasureTest : public MotionFixture {
 protected:
  void Measure(bool direct) {
    Controller->SetUseRTS_DTR(direct);
    Start = SettledCount();
    ASSERT_EQ(Controller->MeasureBacklash(true,
                                          [this](const TBacklashReport& r) {
                                            std::lock_guard lock(ReportLock);
                                            Report = r;
                                          }),
              TFocusControl::TMeasureRefusal::mrNone);
  }
  std::optional<TBacklashReport> Reported() {
    std::lock_guard lock(ReportLock);
    return Report;
  }
  bool WaitReport(int ms = 60000) {
    return WaitUntil([&] { return Reported().has_value(); }, ms);
  }
  // One busy period, ended where the report says, back where it began.
  void ExpectBackAtStart() {
    const TBacklashReport r = *Reported();
    EXPECT_EQ(IdleReports(), (std::vector<bool>{false, true}));
    EXPECT_TRUE(WaitMoveFinished(0));
    EXPECT_EQ(r.Start, Start);
    EXPECT_EQ(r.Left, SettledCount());
    ExpectLanded(r.Left, Start);
    EXPECT_LE(std::abs(r.Left - Start), 3);
  }
  int32_t Start = 0;
  std::optional<TBacklashReport> Report;
};

TEST_F(BacklashMeasureTest, PlayBetweenMotorAndEncoderIsMeasuredWithinItsUncertainty) {
  constexpr double Play = 8;
  MakeController({.Backlash = Play});
  Open();
  Measure(false);
  ASSERT_TRUE(WaitReport());
  const TBacklashReport r = *Reported();
  ASSERT_EQ(r.Result.Outcome, TBacklashOutcome::boMeasured) << BacklashReportText(r);
  EXPECT_LE(std::abs(r.Result.PlayCodes - Play), r.Result.Uncertainty) << BacklashReportText(r);
  ExpectBackAtStart();
}

TEST_F(BacklashMeasureTest, PlayPastTheEncoderIsNotSeenInDirectMode) {
  MakeController({.TubePlay = 20});
  Open();
  Measure(true);
  ASSERT_TRUE(WaitReport());
  const TBacklashReport r = *Reported();
  EXPECT_EQ(r.Result.Outcome, TBacklashOutcome::boNotSeen) << BacklashReportText(r);
  ExpectBackAtStart();
}

// With backlash compensation the way back has two legs: the report comes once both have ended.
TEST_F(BacklashMeasureTest, WithBacklashCompensationTheReportWaitsForTheWholeWayBack) {
  MakeController({.TubePlay = 20});
  Open();
  Controller->ApproachMode.store(1);
  Controller->ApproachCodes.store(20);
  Measure(false);
  ASSERT_TRUE(WaitReport());
  ExpectBackAtStart();
}

TEST_F(BacklashMeasureTest, StopEndsTheMeasurementWithTheMotorOff) {
  Measure(false);
  EXPECT_EQ(Controller->MeasureBacklash(true, {}), TFocusControl::TMeasureRefusal::mrMoving);
  ASSERT_TRUE(WaitUntil([&] { return Controller->CTSCount() != Start; }, 5000));
  Controller->StopMotor();
  ASSERT_TRUE(WaitReport(5000));
  EXPECT_EQ(Reported()->End, TMeasureEnd::meStopped);
  EXPECT_EQ(Reported()->Left, SettledCount());
  EXPECT_FALSE(Sim->RTS());
  Sim->ClearTrace();
  std::this_thread::sleep_for(WatchTheLine);
  const auto trace = Sim->Trace();
  EXPECT_EQ(CountOf(Writes(trace), ":F-#") + CountOf(Writes(trace), ":F+#"), 0u);
  for (const TStep& s : Steps(trace)) EXPECT_NE(s.Text, "RTS+") << "nothing drives after the stop";
  EXPECT_EQ(IdleReports(), (std::vector<bool>{false, true}));
}

TEST_F(BacklashMeasureTest, AnUnpluggedDeviceEndsTheMeasurementInOneBusyPeriod) {
  Measure(false);
  ASSERT_TRUE(WaitUntil([&] { return Controller->CTSCount() != Start; }, 5000));
  Sim->Unplug();
  ASSERT_TRUE(WaitReport(5000));
  EXPECT_NE(Reported()->End, TMeasureEnd::meDone);
  EXPECT_TRUE(WaitUntil([&] { return !Controller->PortOpen(); }, 3000));
  EXPECT_EQ(IdleReports(), (std::vector<bool>{false, true}));
}

TEST_F(BacklashMeasureTest, RefusedWhilePausedRunningOrClosedAndWithoutPermission) {
  using R = TFocusControl::TMeasureRefusal;
  Controller->SetInterruptsOff(true);
  EXPECT_EQ(Controller->MeasureBacklash(true, {}), R::mrPaused);
  Controller->SetInterruptsOff(false);
  Controller->StartMove(true, 0);
  EXPECT_EQ(Controller->MeasureBacklash(true, {}), R::mrCoarseRun);
  Controller->StopMotor();
  Controller->ClosePort();
  EXPECT_EQ(Controller->MeasureBacklash(true, {}), R::mrPortClosed);
  Open();
  // No permission from the camera program: nothing moves at all.
  Controller->SBIGInterlock.store(true);
  Controller->Timeouts.InterlockWaitMs = 300;
  FocuserWaitEvent().ResetEvent();
  Measure(false);
  ASSERT_TRUE(WaitReport(5000));
  EXPECT_EQ(Reported()->End, TMeasureEnd::meNoPermit);
  EXPECT_EQ(Reported()->Left, Start);
  const auto writes = Writes(Sim->Trace());
  EXPECT_EQ(CountOf(writes, ":F-#") + CountOf(writes, ":F+#"), 0u);
  EXPECT_EQ(IdleReports(), (std::vector<bool>{false, true}));
}

}  // namespace
}  // namespace morvane::test
