// The controller's own state: defaults, the Idle rule, cancellation, the pause, the
// keep-alive and the running temperature average.
#include "support/ControllerFixture.h"

namespace morvane::test {
namespace {

using FocusControlTest = ControllerFixture;

TEST_F(FocusControlTest, NewControllerHasItsDefaults) {
  TFocusControl& c = *Controller;
  EXPECT_TRUE(c.Idle());
  EXPECT_EQ(c.CTSCount(), 0);
  EXPECT_EQ(c.TCAvg(), 0.0);
  EXPECT_EQ(c.ComPort(), 1);
  EXPECT_FALSE(c.PortOpen());
  EXPECT_TRUE(c.LastDirection());
  EXPECT_DOUBLE_EQ(c.BackLash(), 0.035);
  EXPECT_EQ(c.CodesPerRev(), 512);
  EXPECT_DOUBLE_EQ(c.TravelPerRev(), 0.58);
  EXPECT_DOUBLE_EQ(c.NudgeTime(), 0.015);
  EXPECT_DOUBLE_EQ(c.CloseNudgeTime(), 0.01);
  EXPECT_DOUBLE_EQ(c.NudgeSleep(), 0.08);
  EXPECT_EQ(c.StopFactor(), 8);
  EXPECT_FALSE(c.UseRTS_DTR());
  EXPECT_FALSE(c.ReverseDir());
  EXPECT_FALSE(c.DualSense());
  EXPECT_FALSE(c.JMIFlag.load());
  EXPECT_FALSE(c.SBIGInterlock.load());
  EXPECT_FALSE(c.InterruptsOff());
  EXPECT_FALSE(c.Paused.load());
  EXPECT_EQ(c.NudgePriority.load(), TThreadPriority::tpNormal);
  EXPECT_TRUE(c.TervixEnable.load());
  EXPECT_EQ(c.TemperatureSampleCount(), 0u);
  // The keep-alive timer exists from construction.
  EXPECT_EQ(Host.TimerCount(), 1u);
}

TEST_F(FocusControlTest, KeepAliveWritesOnlyWhilePortIsOpen) {
  // Each phase is watched for two ticks of the keep-alive timer, the only timer here; a
  // tick's write follows it on the keep-alive thread 20 ms later.
  constexpr int Watched = 2;
  const auto writes = [&] {
    size_t n = 0;
    for (const auto& e : Sim->Trace()) n += e.Kind == sim::TTraceKind::Write;
    return n;
  };
  Host.SetTimersEnabled(true);
  ASSERT_TRUE(Host.WaitForTicks(Watched));
  EXPECT_TRUE(Writes(Sim->Trace()).empty());
  ASSERT_TRUE(Host.RunOnGui([&] { return Controller->OpenPort(); }));
  Sim->ClearTrace();
  const int ticksBefore = Host.Ticks();
  ASSERT_TRUE(WaitUntil([&] { return writes() >= 2u; }, 10000)) << "no keep-alive";
  for (const auto& e : Sim->Trace()) {
    if (e.Kind == sim::TTraceKind::Write) {
      EXPECT_EQ(e.Bytes, "5");
    }
  }
  // One write a tick, and one more from a tick just before the trace was cleared.
  EXPECT_LE(writes(), static_cast<size_t>(Host.Ticks() - ticksBefore + 1));
  Controller->TervixEnable.store(false);
  ASSERT_TRUE(Host.WaitForTicks(1));  // a write on its way from the last enabled tick lands
  Sim->ClearTrace();
  ASSERT_TRUE(Host.WaitForTicks(Watched));
  for (const auto& e : Sim->Trace()) EXPECT_NE(e.Kind, sim::TTraceKind::Write);
  Host.RunOnGui([&] { Controller->ClosePort(); });
  Controller->TervixEnable.store(true);
  Sim->ClearTrace();
  ASSERT_TRUE(Host.WaitForTicks(Watched));
  for (const auto& e : Sim->Trace()) EXPECT_NE(e.Kind, sim::TTraceKind::Write);
}

TEST_F(FocusControlTest, KeepAliveTickLeavesTheWriteToItsThread) {
  ASSERT_TRUE(Host.RunOnGui([&] { return Controller->OpenPort(); }));
  Sim->ClearTrace();
  // A write waits 20 ms before its purge; a tick that wrote itself would hold the GUI thread
  // at least that long every time.
  auto fastest = std::chrono::steady_clock::duration::max();
  const auto alives = [&] {
    size_t n = 0;
    for (const auto& e : Sim->Trace()) n += e.Kind == sim::TTraceKind::Write && e.Bytes == "5";
    return n;
  };
  for (size_t i = 0; i < 5; ++i) {
    Host.RunOnGui([&] {
      const auto start = std::chrono::steady_clock::now();
      Controller->KeepAliveTick();
      fastest = std::min(fastest, std::chrono::steady_clock::now() - start);
    });
    // Its write out before the next tick, as the timer's 200 ms leave it.
    EXPECT_TRUE(WaitUntil([&] { return alives() > i; }, 5000)) << "tick " << i;
  }
  EXPECT_LT(fastest, std::chrono::milliseconds(10));
  size_t alive = 0;
  for (const auto& e : Sim->Trace())
    if (e.Kind == sim::TTraceKind::Write && e.Bytes == "5") ++alive;
  EXPECT_GE(alive, 3u) << "each tick is still written";
  EXPECT_LE(alive, 5u);
}

TEST_F(FocusControlTest, CancelMarksIdleAndClearsRequestsWhateverTheValue) {
  TFocusControl& c = *Controller;
  c.RunIdle.store(false);
  c.NudgeIdle.store(false);
  c.SetCancelMovementFlag(true);
  EXPECT_TRUE(c.EndMoveCancel.load());
  EXPECT_TRUE(c.NudgeCancel.load());
  EXPECT_TRUE(c.Idle());
  c.RunIdle.store(false);
  c.NudgeIdle.store(false);
  c.SetCancelMovementFlag(false);
  EXPECT_FALSE(c.EndMoveCancel.load());
  EXPECT_FALSE(c.NudgeCancel.load());
  EXPECT_TRUE(c.RunIdle.load());
  EXPECT_TRUE(c.NudgeIdle.load());
  EXPECT_TRUE(IdleReports().empty()) << "cancelling raises no event";
}

TEST_F(FocusControlTest, IdleChangeSeenFirstByGetIdleRaisesNoEvent) {
  TFocusControl& c = *Controller;
  c.RunIdle.store(false);
  EXPECT_FALSE(c.GetIdle());
  c.DoIdleChange();
  EXPECT_TRUE(IdleReports().empty());

  c.RunIdle.store(true);
  c.DoIdleChange();
  ASSERT_EQ(IdleReports(), std::vector<bool>{true});

  c.RunIdle.store(false);
  c.DoIdleChange();
  EXPECT_EQ(IdleReports(), (std::vector<bool>{true, false}));
}

TEST_F(FocusControlTest, TemperatureAverageKeepsTheNewestTen) {
  TFocusControl& c = *Controller;
  c.AddTemperatureSample(-99.0);
  EXPECT_EQ(c.TemperatureSampleCount(), 0u);
  EXPECT_EQ(c.TCAvg(), 0.0);
  c.AddTemperatureSample(-98.9);
  EXPECT_EQ(c.TemperatureSampleCount(), 1u);
  EXPECT_DOUBLE_EQ(c.TCAvg(), -98.9);
  c.ClearTemperatureSamples();
  for (int i = 1; i <= 11; ++i) c.AddTemperatureSample(i);
  EXPECT_EQ(c.TemperatureSampleCount(), 10u);
  EXPECT_DOUBLE_EQ(c.TCAvg(), 6.5);  // mean of 2..11
  c.ClearTemperatureSamples();
  EXPECT_EQ(c.TemperatureSampleCount(), 0u);
  EXPECT_DOUBLE_EQ(c.TCAvg(), 6.5) << "clearing keeps the last average";
  c.AddTemperatureSample(20.0);
  EXPECT_DOUBLE_EQ(c.TCAvg(), 20.0);
  c.AddTemperatureSample(-100.0);
  EXPECT_DOUBLE_EQ(c.TCAvg(), 20.0);
}

TEST_F(FocusControlTest, ResetCountReportsZero) {
  Controller->ResetCount();
  auto reports = CTSReports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].Count, 0);
  EXPECT_FALSE(reports[0].DSR);
}

TEST_F(FocusControlTest, InterruptsOffWithNoNudgeClearsRtsAndPausesLater) {
  ASSERT_TRUE(Controller->OpenPort());
  Sim->ClearTrace();
  std::atomic<bool> sawGap{false};
  std::thread watcher([&] {
    // Paused follows InterruptsOff about 10 ms later.
    while (!Controller->InterruptsOff()) std::this_thread::yield();
    if (!Controller->Paused.load()) sawGap = true;
  });
  Controller->SetInterruptsOff(true);
  watcher.join();
  EXPECT_TRUE(sawGap.load());
  EXPECT_TRUE(Controller->InterruptsOff());
  EXPECT_TRUE(Controller->Paused.load());
  EXPECT_EQ(Texts(Steps(Sim->Trace())), std::vector<std::string>{"RTS-"});
  Controller->SetInterruptsOff(false);
  EXPECT_FALSE(Controller->Paused.load());
}

TEST_F(FocusControlTest, DestroyingAnUnopenedControllerTouchesNoPort) {
  Controller.reset();
  EXPECT_TRUE(Sim->Trace().empty());
  EXPECT_EQ(Host.TimerCount(), 0u) << "the keep-alive timer is stopped";
}

}  // namespace
}  // namespace morvane::test
