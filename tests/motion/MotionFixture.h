#pragma once
// Moves on the simulated focuser in real time.

#include <chrono>
#include <string>
#include <vector>

#include "platform/Signals.h"
#include "support/ControllerFixture.h"

namespace morvane::test {

inline int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The first drive command on the line after the given time (a direction written, or RTS
// raised), as text; empty when none.
inline std::string DriveAfter(const std::vector<sim::TTraceEntry>& trace, int64_t us) {
  for (const auto& e : trace) {
    if (e.Us <= us) continue;
    if (e.Kind == sim::TTraceKind::Write && (e.Bytes == ":F-#" || e.Bytes == ":F+#"))
      return e.Bytes;
    if (e.Kind == sim::TTraceKind::Line && e.Line == 'R' && e.Level) return "RTS+";
  }
  return {};
}

// How long the line is watched for a drive that must not come. Nothing marks the moment a wrong
// one would have come, so the watch outlasts the factory nudge sleep (150 ms) between passes.
inline constexpr std::chrono::milliseconds WatchTheLine{200};
// For the counting thread to take the last edges once the shaft is at rest.
inline constexpr std::chrono::milliseconds CountCatchesUp{20};

class MotionFixture : public ControllerFixture {
 protected:
  void SetUp() override {
    ControllerFixture::SetUp();
    Open();
  }
  void Open() {
    ASSERT_TRUE(Controller->OpenPort());
    ClearReports();
    Sim->ClearTrace();
    // Whatever a previous test left on the shared event.
    GeneralDelayEvent().ResetEvent();
  }
  // The factory settings of the settings file.
  void FactorySettings() {
    Controller->SetStopFactor(12);
    Controller->SetNudgeTime(0.015);
    Controller->SetCloseNudgeTime(0.01);
    Controller->SetNudgeSleep(0.15);
  }
  // Waits for the move-finished signal other programs wait on.
  bool WaitMoveFinished(unsigned ms = 10000) {
    return GeneralDelayEvent().WaitFor(ms) == TWaitResult::wrSignaled;
  }
  bool WaitIdleReports(size_t n, int ms = 10000) {
    return WaitUntil([&] { return IdleReports().size() >= n; }, ms);
  }
  // The nudges end only once the count is on the target or past it, seen from the side their
  // last drive came from. How far past is the machine's timing: the planner's table and the
  // benchmark say how exactly moves land. Commands as sent (ReverseDir off).
  void ExpectLanded(int32_t end, int32_t target) {
    int approach = 0;
    bool dtr = false;
    for (const TStep& s : Steps(Sim->Trace())) {
      if (s.Text == "DTR+" || s.Text == "DTR-")
        dtr = s.Text == "DTR+";
      else if (s.Text == "W:F-#" || (s.Text == "RTS+" && dtr))
        approach = 1;
      else if (s.Text == "W:F+#" || s.Text == "RTS+")
        approach = -1;
    }
    ASSERT_NE(approach, 0) << "nothing drove";
    EXPECT_GE((int64_t{end} - target) * approach, 0)
        << "ended short of " << target << " at " << end;
  }
  // The controller's count once the shaft has come to rest.
  // No event tells that the counting thread has taken the shaft's last edges: a short named
  // pause after the shaft stops is the one place that waits for it.
  int32_t SettledCount(int restMs = 2000) {
    WaitUntil([&] { return !Sim->Moving(); }, restMs);
    std::this_thread::sleep_for(CountCatchesUp);
    return Controller->CTSCount();
  }
};

}  // namespace morvane::test
