#pragma once
// A controller on a simulated focuser, with a fake GUI host.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "controller/Objects.h"
#include "sim/SimFocuser.h"
#include "support/FakeHost.h"
#include "support/TraceView.h"
#include "support/WaitFor.h"

namespace morvane::test {

struct TCTSReport {
  int32_t Count;
  bool DSR;
};

class ControllerFixture : public ::testing::Test {
 protected:
  void SetUp() override { MakeController(); }

  void MakeController(sim::TSimParams params = {}) {
    Controller.reset();
    Sim = std::make_unique<sim::TSimFocuser>(params);
    Controller = std::make_unique<TFocusControl>(Host, Sim->Opener());
    Controller->OnCTSChange = [this](TFocusControl*, int32_t count, bool dsr) {
      std::lock_guard lock(ReportLock);
      Reports.push_back({count, dsr});
    };
    Controller->OnIdleChange = [this](TFocusControl*, bool idle) {
      std::lock_guard lock(ReportLock);
      IdleChanges.push_back(idle);
    };
  }

  void TearDown() override {
    Controller.reset();
    Sim.reset();
  }

  std::vector<TCTSReport> CTSReports() {
    std::lock_guard lock(ReportLock);
    return Reports;
  }
  std::vector<bool> IdleReports() {
    std::lock_guard lock(ReportLock);
    return IdleChanges;
  }
  void ClearReports() {
    std::lock_guard lock(ReportLock);
    Reports.clear();
    IdleChanges.clear();
  }

  // Waits until pred holds or timeoutMs passes; returns pred().
  template <typename P>
  static bool WaitUntil(P pred, int timeoutMs) {
    return test::WaitFor(pred, std::chrono::milliseconds(timeoutMs));
  }

  TFakeHost Host;
  std::unique_ptr<sim::TSimFocuser> Sim;
  std::unique_ptr<TFocusControl> Controller;
  std::mutex ReportLock;
  std::vector<TCTSReport> Reports;
  std::vector<bool> IdleChanges;
};

}  // namespace morvane::test
