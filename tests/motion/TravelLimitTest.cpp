// Travel limits and Find Travel on the simulated focuser in real time: a coarse run stops at a
// limit, a move beyond one never starts, and Find Travel finds the end stops (+-20480 codes)
// and ends with the motor off when stopped.
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "MotionFixture.h"
#include "motion/TravelThread.h"

namespace morvane::test {
namespace {

class TravelLimitTest : public MotionFixture {
 protected:
  void Make(sim::TSimParams params = {}) {
    MakeController(params);
    Controller->OnStallFault = [this](TFocusControl*, const std::string& text) {
      std::lock_guard lock(Lock);
      Faults.push_back(text);
    };
    Open();
    FactorySettings();
  }
  std::vector<std::string> FaultTexts() {
    std::lock_guard lock(Lock);
    return Faults;
  }
  void StartFindTravel() {
    ASSERT_EQ(Controller->FindTravel(
                  [this](const std::string& text) {
                    std::lock_guard lock(Lock);
                    Progress.push_back(text);
                  },
                  [this](const TTravelReport& r) {
                    std::lock_guard lock(Lock);
                    Report = r;
                  }),
              TFocusControl::TMeasureRefusal::mrNone);
  }
  std::optional<TTravelReport> Reported() {
    std::lock_guard lock(Lock);
    return Report;
  }
  // Nothing drives the motor any more.
  void ExpectMotorOff() {
    EXPECT_TRUE(WaitUntil([&] { return !Sim->Moving(); }, 5000));
    EXPECT_FALSE(Sim->RTS());
    Sim->ClearTrace();
    std::this_thread::sleep_for(WatchTheLine);
    EXPECT_EQ(DriveAfter(Sim->Trace(), 0), "");
  }

  std::mutex Lock;
  std::vector<std::string> Faults;
  std::vector<std::string> Progress;
  std::optional<TTravelReport> Report;
};

TEST_F(TravelLimitTest, ACoarseRunStopsAtTheLimitAndAMoveBeyondOneNeverStarts) {
  Make();
  ASSERT_TRUE(Controller->SetTravelLimits({true, -100, 200}));
  Controller->StartMove(true, 0);
  ASSERT_TRUE(WaitUntil([&] { return !FaultTexts().empty(); }, 10000));
  EXPECT_FALSE(Controller->CoarseRunning());
  const int32_t stopped = SettledCount();
  // Stopped as it reached the limit: past it only by what the motor coasts.
  EXPECT_GE(stopped, 200);
  EXPECT_LE(stopped, 240);
  EXPECT_EQ(FaultTexts()[0].rfind("Stopped at ", 0), 0u) << FaultTexts()[0];
  EXPECT_NE(FaultTexts()[0].find(": the upper travel limit is 200"), std::string::npos);
  EXPECT_EQ(Controller->LastFault(), FaultTexts()[0]);
  ExpectMotorOff();
  // Again towards the limit: no drive at all; away from it the run goes.
  Controller->StartMove(true, 0);
  EXPECT_FALSE(Controller->CoarseRunning());
  EXPECT_EQ(FaultTexts().size(), 2u);
  ExpectMotorOff();
  Controller->StartMove(false, 0);
  EXPECT_TRUE(WaitUntil([&] { return Controller->CTSCount() < stopped - 20; }, 10000));
  Controller->StopMotor();
  // A move beyond a limit is dropped whole: no busy period, no drive.
  ClearReports();
  Sim->ClearTrace();
  EXPECT_NE(Controller->LimitRefusal(201), "");
  Controller->MoveTo(201);
  Controller->MoveBy(-10000);
  std::this_thread::sleep_for(WatchTheLine);
  EXPECT_TRUE(IdleReports().empty());
  EXPECT_EQ(DriveAfter(Sim->Trace(), 0), "");
  // The limits change only while nothing moves; off, every count is allowed again.
  ASSERT_TRUE(Controller->SetTravelLimits({}));
  EXPECT_EQ(Controller->LimitRefusal(5000), "");
}

TEST_F(TravelLimitTest, FindTravelFindsBothEndStopsAndComesBack) {
  // A fast motor and a short travel (ends at -2048 and 2048), so that it passes in seconds;
  // the stall guard is the same.
  sim::TSimParams params;
  params.SlowSpeed = 8000;
  params.FastSpeed = 8000;
  params.DirectSpeed = 8000;
  params.TravelRevs = 4;
  Make(params);
  const int32_t start = SettledCount();
  StartFindTravel();
  EXPECT_FALSE(Controller->SetTravelLimits({true, -100, 100}));
  EXPECT_EQ(Controller->FindTravel({}, {}), TFocusControl::TMeasureRefusal::mrMoving);
  ASSERT_TRUE(WaitUntil([&] { return Reported().has_value(); }, 120000));
  const TTravelReport r = *Reported();
  EXPECT_EQ(r.End, TTravelEnd::teDone);
  EXPECT_NEAR(r.LowerStop, -2048, 3);
  EXPECT_NEAR(r.UpperStop, 2048, 3);
  EXPECT_EQ(r.Start, start);
  EXPECT_EQ(r.Offered(), LimitsInsideStops(r.LowerStop, r.UpperStop));
  // Back where it started rather than at an end stop 2048 codes away; how close an 8000
  // codes/s motor lands on a loaded machine is the landing tests' concern.
  EXPECT_NEAR(r.Left, start, 200);
  // One busy period; the end stops are no fault.
  EXPECT_EQ(IdleReports(), (std::vector<bool>{false, true}));
  EXPECT_TRUE(FaultTexts().empty());
  EXPECT_EQ(Controller->LastFault(), "");
  EXPECT_FALSE(Controller->SearchingTravel());
  {
    std::lock_guard lock(Lock);
    ASSERT_GE(Progress.size(), 2u);
  }
  ExpectMotorOff();
}

TEST_F(TravelLimitTest, StopEndsFindTravelWithTheMotorOff) {
  Make();
  StartFindTravel();
  ASSERT_TRUE(WaitUntil([&] { return Controller->CTSCount() < -50; }, 10000));
  Controller->StopMotor();
  ASSERT_TRUE(WaitUntil([&] { return Reported().has_value(); }, 10000));
  EXPECT_EQ(Reported()->End, TTravelEnd::teStopped);
  EXPECT_FALSE(Reported()->Offered().Set);
  EXPECT_FALSE(Controller->SearchingTravel());
  ExpectMotorOff();
  EXPECT_EQ(IdleReports(), (std::vector<bool>{false, true}));
  EXPECT_TRUE(WaitMoveFinished(0));
}

}  // namespace
}  // namespace morvane::test
