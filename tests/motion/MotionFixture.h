#pragma once
// Moves on the simulated focuser in real time.

#include "platform/Signals.h"
#include "support/ControllerFixture.h"

namespace morvane::test {

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
  // The controller's count once the shaft has come to rest.
  int32_t SettledCount() {
    WaitUntil([&] { return !Sim->Moving(); }, 2000);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return Controller->CTSCount();
  }
};

}  // namespace morvane::test
