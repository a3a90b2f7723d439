#pragma once
// "Measure backlash": drives the pulses TBacklashProbe asks for, reads the count at rest after
// each, and brings the focuser back to where it started. One busy period, like a move: busy
// when it starts, idle once when it (and the way back) has ended. Started by
// TFocusControl::MeasureBacklash, kept by the controller's thread keeper.

#include <cstdint>
#include <functional>
#include <string>

#include "motion/BacklashProbe.h"
#include "platform/Thread.h"

namespace morvane {

class TFocusControl;

enum class TMeasureEnd {
  meDone,        // the probe came to its result
  meStopped,     // Stop, a cancel or another move ended it
  mePortClosed,  // the port closed under it
  meNoPermit,    // the camera interlock's permission did not come
};

struct TBacklashReport {
  TMeasureEnd End = TMeasureEnd::meDone;
  TBacklashResult Result;  // when End is meDone
  int32_t Start = 0;       // the count where it began
  int32_t Left = 0;        // the count at rest where it left the focuser
  bool Found() const { return End == TMeasureEnd::meDone && Result.Found(); }
};

// The result and where the focuser was left, for the operator.
std::string BacklashReportText(const TBacklashReport& r);

class TBacklashThread : public TThread {
 public:
  // up: the side the play is taken up on first. done: called on this thread at the end, after
  // the idle report, unless the controller is dismantling (TLifeState).
  TBacklashThread(TFocusControl& controller, bool up,
                  std::function<void(const TBacklashReport&)> done);

 protected:
  void Execute() override;

 private:
  bool Cancelled() const;
  // Sleeps ms, less if a cancel comes.
  void SleepUnlessCancelled(uint32_t ms);
  // Waits until the count has held still; a cancel ends the wait unless untilRest, the
  // controller's end always.
  void WaitForRest(bool untilRest = false);
  // One pass of the probe from the count at rest; false when a pause or a cancel spoilt it.
  bool Pulse(const TProbeStep& step, int32_t& before, int32_t& after);
  // Ends the busy period: back to the start when the measurement found its result.
  void Close(TBacklashReport& report);

  TFocusControl& Controller;
  const bool Up;
  const int32_t Start;
  std::function<void(const TBacklashReport&)> Done;
};

}  // namespace morvane
