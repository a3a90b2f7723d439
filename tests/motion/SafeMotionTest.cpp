// Every move ends, nothing drives after Stop, a pause or a close, and one move at a time
// drives the motor, whatever arrives while a move runs.
#include <dirent.h>

#include <random>
#include <thread>

#include "MotionFixture.h"
#include "sim/SimModels.h"

namespace morvane::test {
namespace {

using SafeMotionTest = MotionFixture;
using namespace std::chrono_literals;

// Times that belong to the scenarios below: where in a move a request lands, and how long
// the line is watched for a drive that must not come (nothing on the line marks the moment a
// wrong drive would have come, so the watch is several of the nudge passes it would come from).
constexpr auto RunBeforeSuperseding = 60ms;  // the first move well under way
constexpr auto WatchAfterStop = 300ms;       // two nudge sleeps of the factory settings
constexpr auto IntoARun = 150ms;             // a run of 200 driving its motor
constexpr auto IntoTheNudges = 300ms;        // past the first pulse and its sleep
constexpr auto WatchDuringAPause = 80ms;     // four nudge sleeps of 20 ms
constexpr auto BetweenMoves = 15ms;          // requests and closes interleaved at random
constexpr auto PortClosedFor = 20ms;
constexpr auto PortOpenFor = 40ms;

// A drive command on the line after the given time: a direction written, or RTS raised.
bool DrivesAfter(const std::vector<sim::TTraceEntry>& trace, int64_t us) {
  for (const auto& e : trace) {
    if (e.Us <= us) continue;
    if (e.Kind == sim::TTraceKind::Write && (e.Bytes == ":F-#" || e.Bytes == ":F+#")) return true;
    if (e.Kind == sim::TTraceKind::Line && e.Line == 'R' && e.Level) return true;
  }
  return false;
}

sim::TSimParams Model(const char* name) {
  sim::TSimParams p;
  EXPECT_TRUE(sim::FindMotorModel(name, p));
  return p;
}

TEST_F(SafeMotionTest, RunStoppedPastItsTargetInDirectModeIsNudgedBack) {
  // A heavy motor coasts beyond the stop factor; with DualSense a code is half as far, so
  // the default motor does too. The nudges must drive down, toward the target.
  for (bool heavy : {true, false}) {
    SCOPED_TRACE(heavy ? "heavy motor" : "DualSense");
    MakeController(heavy ? Model("heavy") : sim::TSimParams{});
    Open();
    FactorySettings();
    Controller->SetUseRTS_DTR(true);
    Controller->SetDualSense(!heavy);
    Controller->MoveBy(100);
    ASSERT_TRUE(WaitMoveFinished(15000)) << "the nudges ran away";
    const int32_t end = SettledCount();
    ExpectLanded(end, 100);
    EXPECT_TRUE(Controller->Idle());
  }
}

TEST_F(SafeMotionTest, ThirdMoveWhileASupersedingOneStartsLeavesOneMoveDriving) {
  FactorySettings();
  for (int delayMs : {0, 3, 10, 25}) {
    SCOPED_TRACE(delayMs);
    ClearReports();
    const int32_t start = Controller->CTSCount();
    Controller->MoveBy(300);
    ASSERT_TRUE(WaitUntil([&] { return Controller->CTSCount() - start > 10; }, 3000));
    std::this_thread::sleep_for(RunBeforeSuperseding);
    Controller->MoveBy(-20);
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    const int32_t target = Controller->CTSCount() + 40;
    Controller->MoveBy(40);
    ASSERT_TRUE(WaitMoveFinished(15000)) << "two moves fought over the motor";
    const int32_t end = SettledCount();
    // The target was read while the shaft turned, and a pulse that a busy machine lengthens
    // carries the motor on: near it, not driven on by a second move.
    EXPECT_NEAR(end, target, 30);
    EXPECT_FALSE(Controller->MovementRunning());
    EXPECT_EQ(IdleReports(), (std::vector<bool>{false, true}));
  }
}

TEST_F(SafeMotionTest, NothingAskedForBeforeStopStartsAfterIt) {
  FactorySettings();
  Controller->MoveBy(300);
  ASSERT_TRUE(WaitUntil([&] { return Controller->CTSCount() > 20; }, 3000));
  Controller->MoveBy(-30);  // waits for the run to close down
  Controller->CancelMovement();
  const int64_t stopped = NowUs();
  ASSERT_TRUE(WaitUntil([&] { return !Controller->MovementRunning(); }, 3000));
  std::this_thread::sleep_for(WatchAfterStop);
  EXPECT_FALSE(DrivesAfter(Sim->Trace(), stopped));
  EXPECT_FALSE(Sim->Moving());
  EXPECT_TRUE(Controller->Idle());
  EXPECT_EQ(IdleReports(), (std::vector<bool>{false, true}));
  EXPECT_EQ(GeneralDelayEvent().WaitFor(0), TWaitResult::wrSignaled);
}

// What takes the motor or the port from a move, and what the test expects it to leave.
enum class TAction { StopMotor, StartMove, ClosePort, SetComPort };

TEST_F(SafeMotionTest, WhatTakesTheMotorOrThePortEndsTheMoveFirst) {
  FactorySettings();
  for (TAction action :
       {TAction::StopMotor, TAction::StartMove, TAction::ClosePort, TAction::SetComPort}) {
    for (bool run : {true, false}) {
      // Nudging, the port and the motor are taken the same way as during a run.
      if (!run && (action == TAction::StartMove || action == TAction::SetComPort)) continue;
      SCOPED_TRACE(::testing::Message() << int(action) << (run ? " during a run" : " nudging"));
      ClearReports();
      GeneralDelayEvent().ResetEvent();
      Sim->SetDeadEncoder(true);  // the move would wait for ever for its count
      Controller->MoveBy(run ? 200 : 5);
      std::this_thread::sleep_for(run ? IntoARun : IntoTheNudges);
      switch (action) {
        case TAction::StopMotor:
          Controller->StopMotor();
          break;
        case TAction::StartMove:
          Controller->StartMove(false, 0);
          break;
        case TAction::ClosePort:
          Controller->ClosePort();
          break;
        case TAction::SetComPort:
          Controller->SetComPort(1);
          break;
      }
      // The move has ended by the time the action returns: closing steps, idle, signal.
      EXPECT_FALSE(Controller->MovementRunning());
      EXPECT_TRUE(Controller->Idle());
      EXPECT_EQ(IdleReports(), (std::vector<bool>{false, true}));
      EXPECT_EQ(GeneralDelayEvent().WaitFor(0), TWaitResult::wrSignaled);
      Sim->SetDeadEncoder(false);
      if (action == TAction::StartMove) {
        EXPECT_TRUE(WaitUntil([&] { return Sim->Speed() < -50; }, 1000))
            << "the coarse run goes on";
        Controller->StopMotor();
      }
      // A later fine move runs and ends.
      if (action == TAction::ClosePort || action == TAction::SetComPort) {
        EXPECT_FALSE(Sim->RTS() || Sim->DTR());
        ASSERT_TRUE(Controller->OpenPort());
      }
      SettledCount();
      Controller->MoveBy(4);
      EXPECT_TRUE(WaitMoveFinished(5000));
    }
  }
}

TEST_F(SafeMotionTest, ClosingThePortStopsACoarseRun) {
  Controller->StartMove(true, 0);
  ASSERT_TRUE(WaitUntil([&] { return Sim->Speed() > 50; }, 1000));
  Controller->ClosePort();
  EXPECT_TRUE(WaitUntil([&] { return !Sim->Moving(); }, 1000));
  auto writes = Writes(Sim->Trace());
  ASSERT_GE(writes.size(), 2u);
  EXPECT_EQ(writes.back(), ":FQ#");
}

TEST_F(SafeMotionTest, MoveWithoutAPortEndsAtOnce) {
  Controller->ClosePort();
  Controller->MoveBy(50);
  EXPECT_EQ(GeneralDelayEvent().WaitFor(0), TWaitResult::wrSignaled);
  EXPECT_FALSE(Controller->MovementRunning());
  EXPECT_TRUE(Controller->Idle());
}

TEST_F(SafeMotionTest, PulseTooShortToBreakAwayIsLengthenedUntilTheMotorMoves) {
  // The command spends 4 ms of a 10 ms close pulse on the wire: this motor never moves on
  // what is left of it.
  MakeController(Model("sticky"));
  Open();
  FactorySettings();
  for (int32_t delta : {2, -2, 1}) {
    SCOPED_TRACE(delta);
    const int32_t start = SettledCount();
    Controller->MoveBy(delta);
    ASSERT_TRUE(WaitMoveFinished(15000));
    const int32_t end = SettledCount();
    EXPECT_GE((end - start) * delta, delta * delta) << "landed on the target or past it";
  }
  EXPECT_TRUE(Host.Messages().empty());
}

TEST_F(SafeMotionTest, MotorThatNoPulseMovesEndsTheMoveWithAMessage) {
  Sim->SetDeadEncoder(true);
  Controller->MoveBy(2);
  ASSERT_TRUE(WaitMoveFinished(20000));
  EXPECT_TRUE(Controller->Idle());
  ASSERT_TRUE(Host.WaitForMessages(1, 2000));
  EXPECT_NE(Host.Messages()[0].find("Nudge Time"), std::string::npos) << Host.Messages()[0];
  EXPECT_EQ(IdleReports(), (std::vector<bool>{false, true}));
  // The pulses were lengthened step by step (how far, the planner's table says).
  auto steps = Steps(Sim->Trace());
  std::vector<double> pulses;
  for (size_t i = 0; i + 1 < steps.size(); ++i)
    if (steps[i].Text == "W:F-#")
      for (size_t j = i + 1; j < steps.size(); ++j)
        if (steps[j].Text == "RTS-") {
          pulses.push_back((steps[j].Us - steps[i].Us) / 1000.0);
          break;
        }
  ASSERT_GE(pulses.size(), 4u);
  EXPECT_GE(pulses.front(), 9);
  EXPECT_GT(pulses.back(), 95);
}

TEST_F(SafeMotionTest, TargetsBeyondTheCountsRangeKeepTheirDirection) {
  Controller->MoveBy(10);
  ASSERT_TRUE(WaitMoveFinished());
  SettledCount();
  for (bool down : {true, false}) {
    SCOPED_TRACE(down);
    Sim->ClearTrace();
    if (down)
      Controller->MoveTo(INT32_MIN + 5);
    else
      Controller->MoveBy(INT32_MAX);
    ASSERT_TRUE(WaitUntil([&] { return Writes(Sim->Trace()).size() >= 2; }, 2000));
    EXPECT_EQ(Writes(Sim->Trace())[1], down ? ":F+#" : ":F-#");
    Controller->CancelMovementAndWait();
  }
}

TEST_F(SafeMotionTest, CancelEndsAPausedMove) {
  Sim->SetDeadEncoder(true);
  Controller->MoveBy(5);
  ASSERT_TRUE(WaitUntil([&] { return CountOf(Writes(Sim->Trace()), ":F-#") >= 1; }, 3000));
  Controller->SetInterruptsOff(true);
  Controller->CancelMovement();
  ASSERT_TRUE(WaitMoveFinished(3000));
  Controller->SetInterruptsOff(false);
  Sim->SetDeadEncoder(false);
  Controller->MoveBy(3);
  EXPECT_TRUE(WaitMoveFinished(5000)) << "the next move is not jammed";
}

TEST_F(SafeMotionTest, NothingDrivesDuringAPause) {
  // Pauses land at random points of the passes, also between the pause test and the drive.
  Controller->SetNudgeSleep(0.02);
  Sim->SetDeadEncoder(true);
  std::mt19937 rng(7);
  for (bool direct : {false, true}) {
    Controller->SetUseRTS_DTR(direct);
    for (int i = 0; i < 12; ++i) {
      SCOPED_TRACE(::testing::Message() << (direct ? "direct " : "LX-200 ") << i);
      if (!Controller->MovementRunning()) Controller->MoveBy(i % 2 ? 5 : -5);
      std::this_thread::sleep_for(std::chrono::milliseconds(30 + rng() % 40));  // a random point
      Controller->SetInterruptsOff(true);
      const int64_t paused = NowUs();
      std::this_thread::sleep_for(WatchDuringAPause);
      EXPECT_FALSE(DrivesAfter(Sim->Trace(), paused));
      EXPECT_FALSE(Sim->RTS());
      Controller->SetInterruptsOff(false);
    }
    Controller->CancelMovementAndWait();
  }
}

TEST_F(SafeMotionTest, PortClosedAndOpenedWhileMovesSupersedeEachOther) {
  // The counting thread has one owner: closing the port and starting superseding moves at
  // once never join it twice.
  FactorySettings();
  std::atomic<bool> done{false};
  std::thread mover([&] {
    for (int i = 0; i < 30 && !done.load(); ++i) {
      Controller->MoveBy(i % 2 ? 30 : -30);
      std::this_thread::sleep_for(BetweenMoves);
    }
  });
  for (int i = 0; i < 6; ++i) {
    Controller->ClosePort();
    std::this_thread::sleep_for(PortClosedFor);
    Controller->OpenPort();
    std::this_thread::sleep_for(PortOpenFor);
  }
  done.store(true);
  mover.join();
  Controller->CancelMovementAndWait();
  EXPECT_FALSE(Controller->MovementRunning());
  EXPECT_TRUE(Controller->Idle());
}

TEST_F(SafeMotionTest, MoveFinishedSignalStaysOffFromResetCountToTheNextMovesEnd) {
  Controller->MoveBy(0);  // signalled
  Controller->ResetCount();
  EXPECT_EQ(GeneralDelayEvent().WaitFor(0), TWaitResult::wrTimeout);
  Controller->MoveBy(5);
  EXPECT_EQ(GeneralDelayEvent().WaitFor(50), TWaitResult::wrTimeout);
  EXPECT_TRUE(WaitMoveFinished());
}

int ThreadCount() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/task")) {
    while (const dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

TEST_F(SafeMotionTest, ABurstOfMovesHoldsFewThreadsAndTheLastWins) {
  FactorySettings();
  const int before = ThreadCount();
  int peak = before;
  for (int i = 0; i < 2000; ++i) {
    Controller->MoveTo(i % 2 ? 200 : -200);
    if (i % 50 == 0) peak = std::max(peak, ThreadCount());
  }
  Controller->MoveTo(40);
  peak = std::max(peak, ThreadCount());
  // A move's run, its nudges and one starter waiting to take over: never one per request.
  EXPECT_LE(peak - before, 6);
  ASSERT_TRUE(WaitUntil([&] { return !Controller->MovementRunning(); }, 20000));
  EXPECT_NEAR(SettledCount(), 40, 3);
  EXPECT_EQ(IdleReports(), (std::vector<bool>{false, true}));
}

TEST_F(SafeMotionTest, ResetDuringAMoveGoesNoFurtherThanAsked) {
  FactorySettings();
  const int32_t start = Sim->Position();
  Controller->MoveBy(300);
  ASSERT_TRUE(WaitUntil([&] { return Controller->CTSCount() > 60; }, 3000));
  Controller->ResetCount();
  ASSERT_TRUE(WaitMoveFinished(15000));
  SettledCount();
  // The motor ends where the move was asked to take it, counted from the new zero.
  EXPECT_NEAR(Sim->Position() - start, 300, 3);
  EXPECT_EQ(IdleReports(), (std::vector<bool>{false, true}));
}

TEST_F(SafeMotionTest, ResetRightAfterAStopStartsNothing) {
  // Stop then zero, as a person does at the window: the stopped move's threads are still
  // winding down when the reset comes, and it must not re-aim them.
  FactorySettings();
  Controller->MoveBy(-220);
  ASSERT_TRUE(WaitUntil([&] { return Controller->CTSCount() < -20; }, 3000));
  Controller->CancelMovement();
  const int64_t stopped = std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::steady_clock::now().time_since_epoch())
                              .count();
  Controller->ResetCount();
  ASSERT_TRUE(WaitUntil([&] { return !Controller->MovementRunning(); }, 10000));
  ASSERT_TRUE(WaitMoveFinished(3000));
  for (const auto& e : Sim->Trace()) {
    if (e.Us <= stopped) continue;
    EXPECT_FALSE(e.Kind == sim::TTraceKind::Write && (e.Bytes == ":F-#" || e.Bytes == ":F+#"))
        << "drove " << e.Bytes << " after the Stop";
  }
  EXPECT_EQ(IdleReports(), (std::vector<bool>{false, true}));
}

TEST_F(SafeMotionTest, SyncSetsTheCountOnlyWhileNothingDrives) {
  FactorySettings();
  const int32_t shaft = Sim->Position();
  EXPECT_TRUE(Controller->SyncCount(12000));
  EXPECT_EQ(Controller->CTSCount(), 12000);
  EXPECT_EQ(Sim->Position(), shaft) << "a sync moves nothing";
  EXPECT_TRUE(IdleReports().empty());

  Controller->StartMove(true, 1);  // a coarse run
  EXPECT_FALSE(Controller->SyncCount(1));
  Controller->StopCoarseRun();
  Controller->MoveBy(200);
  EXPECT_FALSE(Controller->SyncCount(1));
  ASSERT_TRUE(WaitUntil([&] { return !Controller->MovementRunning(); }, 15000));
  EXPECT_NE(Controller->CTSCount(), 1);
  EXPECT_TRUE(Controller->SyncCount(-3));
  EXPECT_EQ(Controller->CTSCount(), -3);
}

TEST_F(SafeMotionTest, TwoControllersInOneProcessKeepTheirHandOversApart) {
  // A short run beside a long one: the short run's hand-over, taken by the other controller's
  // nudges, would start those while their own run still drives.
  FactorySettings();
  TFakeHost otherHost;
  sim::TSimFocuser otherSim;
  TFocusControl other(otherHost, otherSim.Opener());
  other.SetStopFactor(12);
  ASSERT_TRUE(other.OpenPort());
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    Sim->ClearTrace();
    otherSim.ClearTrace();
    const bool shortHere = round % 2 == 0;
    Controller->MoveBy(shortHere ? 40 : -400);
    other.MoveBy(shortHere ? -400 : 40);
    ASSERT_TRUE(WaitUntil(
        [&] { return !Controller->MovementRunning() && !other.MovementRunning(); }, 20000));
    for (sim::TSimFocuser* s : {Sim.get(), &otherSim}) {
      const auto writes = Writes(s->Trace());
      ASSERT_GE(writes.size(), 5u);
      // The run's start and drive, its stop, and only then the nudges.
      EXPECT_EQ(std::vector<std::string>(writes.begin() + 2, writes.begin() + 5),
                (std::vector<std::string>{":FQ#", ":FQ#", ":FS#"}));
    }
  }
}

}  // namespace
}  // namespace morvane::test
