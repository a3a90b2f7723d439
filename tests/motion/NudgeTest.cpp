// Short moves made of timed pulses alone.
#include "MotionFixture.h"
#include "motion/NudgeThread.h"

namespace morvane::test {
namespace {

using NudgeTest = MotionFixture;
using namespace std::chrono_literals;

// For a pass already under way when the nudges are suspended to end its pulse.
constexpr auto PassInFlight = 120ms;
// A nudge thread late by several nudge sleeps of the factory settings, as on a busy machine.
constexpr auto LateStart = 600ms;

// Pulse and pause lengths (ms) of each pass, from the trace: a pulse runs from the drive
// command to the clear of RTS after it, a pause from there to the next step (the next pass's
// clear of RTS, or the final stop, whose write the 20 ms purge precedes).
struct TPass {
  double PulseMs;
  double PauseMs;
};

std::vector<TPass> Passes(const std::vector<TStep>& steps, const std::string& drive) {
  constexpr double PurgeMs = 20;
  std::vector<TPass> passes;
  for (size_t i = 0; i < steps.size(); ++i) {
    if (steps[i].Text != drive) continue;
    size_t off = i + 1;
    while (off < steps.size() && steps[off].Text != "RTS-") ++off;
    if (off + 1 >= steps.size()) break;
    const TStep& next = steps[off + 1];
    passes.push_back({(steps[off].Us - steps[i].Us) / 1000.0,
                      (next.Us - steps[off].Us) / 1000.0 - (next.Text[0] == 'W' ? PurgeMs : 0)});
  }
  return passes;
}

TEST_F(NudgeTest, ShortMoveLandsOnTheTargetWithFarThenClosePasses) {
  FactorySettings();
  Controller->MoveBy(6);
  ASSERT_TRUE(WaitMoveFinished());
  ExpectLanded(SettledCount(), 6);
  EXPECT_TRUE(Controller->Idle());
  EXPECT_EQ(IdleReports(), (std::vector<bool>{false, true}));

  auto writes = Writes(Sim->Trace());
  ASSERT_GE(writes.size(), 4u);
  EXPECT_EQ(writes.front(), ":FS#");
  EXPECT_EQ(writes[writes.size() - 2], ":FQ#");
  EXPECT_EQ(writes.back(), ":FQ#");
  EXPECT_EQ(CountOf(writes, ":F+#"), 0u) << "nudges never reverse";

  auto passes = Passes(Steps(Sim->Trace()), "W:F-#");
  ASSERT_GE(passes.size(), 1u);
  // Six codes away the first pass is far: 15 ms on, 150 ms off; a close one is 10 ms on,
  // 225 ms off. A sleep ends no sooner than asked; how much later is the machine's load, and
  // a pulse that load lengthens may land the move from a far pass.
  EXPECT_GE(passes.front().PulseMs, 14);
  for (const TPass& p : passes) {
    EXPECT_GE(p.PauseMs, 140);
    if (p.PulseMs < 14) {
      EXPECT_GE(p.PauseMs, 215) << "a close pass";
    }
  }
}

TEST_F(NudgeTest, DirectModeNudgesDownWithLinePulses) {
  FactorySettings();
  Controller->SetUseRTS_DTR(true);
  Controller->MoveBy(-4);
  ASSERT_TRUE(WaitMoveFinished());
  ExpectLanded(SettledCount(), -4);
  EXPECT_TRUE(Writes(Sim->Trace()).empty());
  auto steps = Steps(Sim->Trace());
  auto passes = Passes(steps, "RTS+");
  ASSERT_GE(passes.size(), 1u);
  for (auto& p : passes) EXPECT_GE(p.PulseMs, 9);
  // Downwards is ":F+#": RTS alone, DTR never set; the last stop clears DTR 10 ms later.
  for (auto& s : steps) EXPECT_NE(s.Text, "DTR+");
  ASSERT_GE(steps.size(), 2u);
  EXPECT_EQ(steps.back().Text, "DTR-");
}

TEST_F(NudgeTest, StartingOnTheTargetStillGivesOnePulseDownwards) {
  // Nothing to do for MoveBy; a nudge thread created on the target pulses once, downwards.
  Controller->SetStopFactor(12);
  {
    TNudgeThread nudge(*Controller, 0, true);
    nudge.WaitFor();
  }
  auto writes = Writes(Sim->Trace());
  EXPECT_EQ(writes, (std::vector<std::string>{":FS#", ":F+#", ":FQ#", ":FQ#"}));
  EXPECT_TRUE(Controller->Idle());

  // With a final approach from one side the run came from that side: no pulse turns it back.
  Controller->ApproachMode.store(1);
  Controller->ApproachCodes.store(10);
  Sim->ClearTrace();
  {
    TNudgeThread nudge(*Controller, Controller->CTSCount(), true);
    nudge.WaitFor();
  }
  EXPECT_EQ(Writes(Sim->Trace()), (std::vector<std::string>{":FS#", ":FQ#", ":FQ#"}));
  EXPECT_TRUE(Controller->Idle());
}

TEST_F(NudgeTest, CancelDuringANudgeEndsAfterThePass) {
  Sim->SetDeadEncoder(true);  // the count never arrives: only a cancel ends the loop
  Controller->MoveBy(5);
  ASSERT_TRUE(WaitUntil([&] { return CountOf(Writes(Sim->Trace()), ":F-#") >= 2; }, 3000));
  Controller->CancelMovement();
  EXPECT_TRUE(Controller->Idle()) << "idle at once";
  ASSERT_TRUE(WaitMoveFinished(2000));
  auto writes = Writes(Sim->Trace());
  ASSERT_GE(writes.size(), 2u);
  EXPECT_EQ(writes[writes.size() - 2], ":FQ#");
  EXPECT_EQ(writes.back(), ":FQ#");
  const size_t pulses = CountOf(writes, ":F-#");
  std::this_thread::sleep_for(WatchTheLine);
  EXPECT_EQ(CountOf(Writes(Sim->Trace()), ":F-#"), pulses) << "no pulse after the stop";
  // Idle had already been seen by the guard above, so the end raises only the busy report.
  EXPECT_EQ(IdleReports(), std::vector<bool>{false});
}

TEST_F(NudgeTest, PausedNudgeSendsNothingUntilResumedAsOftenAsSuspended) {
  Sim->SetDeadEncoder(true);
  Controller->MoveBy(5);
  ASSERT_TRUE(WaitUntil([&] { return CountOf(Writes(Sim->Trace()), ":F-#") >= 1; }, 3000));
  Controller->SetInterruptsOff(true);
  Controller->SetInterruptsOff(true);
  std::this_thread::sleep_for(PassInFlight);
  Sim->ClearTrace();
  Controller->SetInterruptsOff(false);
  std::this_thread::sleep_for(WatchTheLine);
  EXPECT_TRUE(Writes(Sim->Trace()).empty()) << "still suspended once";
  Controller->SetInterruptsOff(false);
  EXPECT_TRUE(WaitUntil([&] { return CountOf(Writes(Sim->Trace()), ":F-#") >= 1; }, 2000));
  Controller->CancelMovement();
  EXPECT_TRUE(WaitMoveFinished(2000));
}

TEST_F(NudgeTest, PulsesSkippedWhileInterruptsOffWithoutASuspension) {
  // InterruptsOff set while no nudge runs suspends nothing: the loop runs, sends no drive
  // and skips its pauses.
  Sim->SetDeadEncoder(true);
  Controller->SetInterruptsOff(true);
  Controller->MoveBy(5);
  const auto clears = [&] {
    size_t n = 0;
    for (auto& s : Steps(Sim->Trace())) n += s.Text == "RTS-";
    return n;
  };
  EXPECT_TRUE(WaitUntil([&] { return clears() > 10u; }, 10000))
      << "passes go on, with their pulse sleeps only";
  auto writes = Writes(Sim->Trace());
  EXPECT_EQ(writes, std::vector<std::string>{":FS#"});
  Controller->CancelMovement();
  EXPECT_TRUE(WaitMoveFinished(2000));
  Controller->SetInterruptsOff(false);
}

// A nudge thread that starts late, as on a busy machine, still finds the run's hand-over; the
// move is one busy time from the run to the last nudge, and its landing is reported first.
TEST_F(NudgeTest, LateNudgeThreadFindsTheHandOverAndTheMoveStaysBusyThroughout) {
  FactorySettings();
  Controller->Timeouts.HandOverWaitMs = 5000;  // a lost hand-over shows in 5 s, not 120
  // Counts and idle reports in the order they came ('C' count, 'I' idle, 'B' busy).
  std::vector<std::pair<char, int32_t>> log;
  Controller->ClosePort();
  Controller->OnCTSChange = [&](TFocusControl*, int32_t count, bool) {
    std::lock_guard lock(ReportLock);
    log.push_back({'C', count});
  };
  Controller->OnIdleChange = [&](TFocusControl*, bool idle) {
    std::lock_guard lock(ReportLock);
    log.push_back({idle ? 'I' : 'B', 0});
  };
  Open();
  TNudgeThread::StartHook = [] { std::this_thread::sleep_for(LateStart); };
  Controller->MoveBy(50);
  const bool finished = WaitMoveFinished(15000);
  TNudgeThread::StartHook = nullptr;
  ASSERT_TRUE(finished);
  EXPECT_TRUE(Host.Messages().empty()) << Host.Messages().front();
  const int32_t end = SettledCount();
  std::lock_guard lock(ReportLock);
  std::string idle;
  int32_t reported = 0;  // the last count reported before idle
  for (auto& [kind, count] : log) {
    if (kind != 'C')
      idle += kind;
    else if (idle.find('I') == std::string::npos)
      reported = count;
  }
  EXPECT_EQ(idle, "BI");
  EXPECT_EQ(reported, end) << "the landing is reported before idle";
}

}  // namespace
}  // namespace morvane::test
