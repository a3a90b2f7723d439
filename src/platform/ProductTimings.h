#pragma once
// The product's fixed waits, each with why it is there, in one place: the tests run hundreds
// of opens and closes on the simulator and shorten the waits that only give real hardware
// time to settle (SetProductTimings), while the program always runs with the defaults.

#include <cstdint>

namespace morvane {

struct TProductTimings {
  // After opening, the lines are cleared and the counting thread started: a motor left running
  // by another program coasts to rest and the adapter's lines settle before the count is
  // zeroed, so that zero is where the shaft rests.
  uint32_t PortSettleMs = 500;
  // The controller going away has cancelled every move: the motion threads see it at their
  // next check and stop the motor before the threads are ended and the port closed. The
  // controller waits at most this long for them to end, and not at all when none runs.
  uint32_t DestroySettleMs = 500;
  // The window closing has sent the stop commands: the motor comes to rest before the
  // window's place is saved and the port is closed behind it.
  uint32_t CloseStopSettleMs = 200;
  // The temperature module answers only on a quiet line: a pause before each exchange, a
  // longer one before the availability probe, and longer still before its one retry.
  uint32_t ModuleGapMs = 10;
  uint32_t ModuleProbeGapMs = 30;
  uint32_t ModuleRetryGapMs = 100;
};

// The waits in force: the defaults unless a test set others.
const TProductTimings& ProductTimings();
// For tests: the object must outlive every controller (a static one). Set before any
// controller starts, since the threads read it without a lock.
void SetProductTimings(const TProductTimings* timings);

}  // namespace morvane
