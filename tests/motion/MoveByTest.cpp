// Moves by and to a count: runs stopped short of the target, then nudged onto it.
#include "MotionFixture.h"

namespace morvane::test {
namespace {

using MoveByTest = MotionFixture;

// The position of the shaft when the first write equal to text went out after index from.
int32_t PositionAtWrite(const std::vector<sim::TTraceEntry>& trace, const std::string& text,
                        size_t skip = 0) {
  for (const auto& e : trace)
    if (e.Kind == sim::TTraceKind::Write && e.Bytes == text && skip-- == 0) return e.Position;
  return INT32_MIN;
}

TEST_F(MoveByTest, MoveByZeroSignalsAtOnceAndStartsNothing) {
  Controller->MoveBy(0);
  EXPECT_EQ(GeneralDelayEvent().WaitFor(0), TWaitResult::wrSignaled);
  std::this_thread::sleep_for(WatchTheLine);
  EXPECT_TRUE(Writes(Sim->Trace()).empty());
  EXPECT_TRUE(IdleReports().empty());
}

TEST_F(MoveByTest, ShortAndLongMovesMeetAtStopFactorPlusTwo) {
  // StopFactor 8: nine codes are nudged, ten are run.
  for (int32_t delta : {9, -9, 10, -10}) {
    SCOPED_TRACE(delta);
    const int32_t start = Controller->CTSCount();
    Sim->ClearTrace();
    Controller->MoveBy(delta);
    ASSERT_TRUE(WaitMoveFinished());
    auto writes = Writes(Sim->Trace());
    ASSERT_GE(writes.size(), 2u);
    if (std::abs(delta) < 10) {
      EXPECT_EQ(writes[0], ":FS#") << "a stand-alone nudge";
    } else {
      EXPECT_EQ(writes[0], ":FQ#");
      EXPECT_EQ(writes[1], delta > 0 ? ":F-#" : ":F+#") << "a run";
    }
    const int32_t end = SettledCount();
    // A run that comes to rest exactly on the target still gets its one pulse downwards.
    ExpectLanded(end, start + delta);
  }
}

TEST_F(MoveByTest, LongRunStopsAtTheStopPointThenNudgesOntoTheTarget) {
  FactorySettings();
  Controller->MoveBy(100);
  ASSERT_TRUE(WaitMoveFinished());
  const int32_t end = SettledCount();
  ExpectLanded(end, 100);
  EXPECT_EQ(IdleReports(), (std::vector<bool>{false, true}));

  auto trace = Sim->Trace();
  auto writes = Writes(trace);
  ASSERT_GE(writes.size(), 6u);
  EXPECT_EQ(writes[0], ":FQ#");
  EXPECT_EQ(writes[1], ":F-#");
  EXPECT_EQ(writes[2], ":FQ#");
  EXPECT_EQ(writes[3], ":FQ#");
  // The stop goes out once the count has reached 100 - 12.
  EXPECT_GE(PositionAtWrite(trace, ":FQ#", 1), 88);
  EXPECT_EQ(writes.back(), ":FQ#");
}

TEST_F(MoveByTest, RunsAreStoppedExactlyAtTheirStopPoints) {
  // A slow motor in direct mode: the stop (RTS cleared) follows the count reaching the stop
  // point long before the next code.
  sim::TSimParams params;
  params.DirectSpeed = 20;
  MakeController(params);
  Open();
  Controller->SetUseRTS_DTR(true);
  struct TCase {
    int32_t Start, StopFactor, Delta, StopPoint;
    bool MoveTo;
  };
  for (const TCase& k :
       {TCase{0, 8, 10, 2, false}, TCase{0, 8, -10, -2, false}, TCase{300, 8, 250, 258, true}}) {
    SCOPED_TRACE(k.StopPoint);
    const int32_t at = SettledCount();
    if (at != k.Start) Sim->Turn(k.Start - at, 4000);
    ASSERT_EQ(SettledCount(), k.Start);
    Controller->SetStopFactor(k.StopFactor);
    Sim->ClearTrace();
    if (k.MoveTo)
      Controller->MoveTo(k.Delta);
    else
      Controller->MoveBy(k.Delta);
    auto stop = [&]() -> const sim::TTraceEntry* {
      static thread_local std::vector<sim::TTraceEntry> trace;
      trace = Sim->Trace();
      bool running = false;
      for (const auto& e : trace) {
        if (e.Kind != sim::TTraceKind::Line || e.Line != 'R') continue;
        if (e.Level)
          running = true;
        else if (running)
          return &e;
      }
      return nullptr;
    };
    ASSERT_TRUE(WaitUntil([&] { return stop() != nullptr; }, 5000));
    EXPECT_EQ(stop()->Position, k.StopPoint);
    Controller->CancelMovementAndWait();
  }
}

TEST_F(MoveByTest, MoveToComesDownOntoItsTarget) {
  FactorySettings();
  Controller->MoveBy(60);
  ASSERT_TRUE(WaitMoveFinished());
  SettledCount();
  Sim->ClearTrace();
  ClearReports();
  Controller->MoveTo(20);
  ASSERT_TRUE(WaitMoveFinished());
  const int32_t end = SettledCount();
  ExpectLanded(end, 20);
  auto writes = Writes(Sim->Trace());
  ASSERT_GE(writes.size(), 2u);
  EXPECT_EQ(writes[1], ":F+#");
  EXPECT_EQ(IdleReports(), (std::vector<bool>{false, true}));
}

TEST_F(MoveByTest, RunThatCoastsPastTheTargetIsNudgedBack) {
  Controller->SetStopFactor(1);  // far too short a stopping distance for this motor
  Controller->MoveBy(40);
  ASSERT_TRUE(WaitMoveFinished());
  const int32_t end = SettledCount();
  auto writes = Writes(Sim->Trace());
  // Run, stop, then the nudges drive the other way.
  ASSERT_GE(writes.size(), 5u);
  EXPECT_EQ(writes[1], ":F-#");
  EXPECT_GE(CountOf(writes, ":F+#"), 1u);
  ExpectLanded(end, 40);
}

TEST_F(MoveByTest, CancelDuringARunStopsAtOnceAndFinishesTheMove) {
  FactorySettings();
  Controller->MoveBy(400);
  ASSERT_TRUE(WaitUntil([&] { return Controller->CTSCount() > 10; }, 3000));
  Sim->ClearTrace();
  Controller->CancelMovement();
  EXPECT_TRUE(Controller->Idle());
  ASSERT_TRUE(WaitMoveFinished(3000));
  auto steps = Steps(Sim->Trace());
  std::vector<std::string> writes;
  for (auto& s : steps)
    if (s.Text[0] == 'W') writes.push_back(s.Text);
  // Two stops at once, the slow speed and one nudge pass that drives nothing after the
  // Stop, two more stops.
  EXPECT_EQ(writes, (std::vector<std::string>{"W:FQ#", "W:FQ#", "W:FS#", "W:FQ#", "W:FQ#"}));
  EXPECT_LT(Controller->CTSCount(), 388);
}

TEST_F(MoveByTest, JmiRunIsStartedByTheMoveItThread) {
  FactorySettings();
  Controller->JMIFlag.store(true);
  Controller->MoveBy(-50);
  ASSERT_TRUE(WaitMoveFinished());
  const int32_t end = SettledCount();
  ExpectLanded(end, -50);
  auto writes = Writes(Sim->Trace());
  EXPECT_EQ(writes[0], ":FQ#");
  EXPECT_EQ(writes[1], ":F+#");
  EXPECT_FALSE(Controller->LastDirection());
}

TEST_F(MoveByTest, AMoveThatArrivesDuringAMoveSupersedesIt) {
  FactorySettings();
  Controller->MoveBy(300);
  ASSERT_TRUE(WaitUntil([&] { return Controller->CTSCount() > 30; }, 3000));
  const int32_t at = Controller->CTSCount();
  Controller->MoveBy(-20);
  // Busy from the first move's start to the last one's end: one report each way, and the
  // move-finished signal only at the very end.
  ASSERT_TRUE(WaitMoveFinished());
  EXPECT_FALSE(Sim->Moving());
  const int32_t end = SettledCount();
  // The target is taken at the call, with the shaft still turning upwards since `at` was read;
  // the nudges come down onto it.
  EXPECT_GE(end, at - 21);
  EXPECT_LT(end, at);
  EXPECT_EQ(IdleReports(), (std::vector<bool>{false, true}));
  // The old move's closing stops come before anything of the new one.
  auto writes = Writes(Sim->Trace());
  size_t firstUp = 0;
  for (size_t i = 0; i < writes.size(); ++i)
    if (writes[i] == ":F+#") {
      firstUp = i;
      break;
    }
  ASSERT_GT(firstUp, 0u);
  EXPECT_EQ(writes[firstUp - 1], ":FQ#");
  EXPECT_EQ(writes[firstUp - 2], ":FQ#");
}

TEST_F(MoveByTest, DestroyingTheControllerMidMoveLeavesNoThread) {
  FactorySettings();
  Sim->SetDeadEncoder(true);  // the run would never end by itself
  Controller->MoveBy(300);
  ASSERT_TRUE(WaitUntil([&] { return Writes(Sim->Trace()).size() >= 2; }, 5000));  // driving
  const auto start = std::chrono::steady_clock::now();
  Controller.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  auto writes = Writes(Sim->Trace());
  ASSERT_GE(writes.size(), 3u);
  EXPECT_EQ(writes[2], ":FQ#") << "the cancel stopped the run";
}

}  // namespace
}  // namespace morvane::test
