#pragma once
// "Find Travel": runs slowly out to the lower end stop and in to the upper one, each run
// ended by the stall guard, then back to where it started. One busy period, like a move.
// Started by TFocusControl::FindTravel, kept by the controller's thread keeper.

#include <cstdint>
#include <functional>
#include <string>

#include "controller/LimitRule.h"
#include "controller/Objects.h"
#include "platform/Thread.h"

namespace morvane {

class TFocusControl;

enum class TTravelEnd {
  teDone,        // both end stops found
  teStopped,     // Stop, a cancel or another move ended it
  tePortClosed,  // the port closed under it
  teNoPermit,    // the camera interlock's permission did not come
};

struct TTravelReport {
  TTravelEnd End = TTravelEnd::teDone;
  int32_t LowerStop = 0;  // where each run came to rest against its stop, when teDone
  int32_t UpperStop = 0;
  int32_t Start = 0;  // the count where it began
  int32_t Left = 0;   // the count at rest where it left the focuser
  // The limits offered: a margin inside the stops.
  TTravelLimits Offered() const {
    return End == TTravelEnd::teDone ? LimitsInsideStops(LowerStop, UpperStop) : TTravelLimits{};
  }
};

// The stops found, or why not, and where the focuser was left, for the operator.
std::string TravelReportText(const TTravelReport& r);

class TTravelThread : public TThread {
 public:
  TTravelThread(TFocusControl& controller, TTravelProgress progress, TTravelDone done);

 protected:
  void Execute() override;

 private:
  bool Cancelled() const;
  // Waits until the count has held still; a cancel ends the wait unless untilRest.
  void WaitForRest(bool untilRest = false);
  // One slow run towards a stop (up: the count rising) until the stall guard stops it; the
  // count at rest then. False when a cancel or a closed port ended it first.
  bool RunToStop(bool up, int32_t& stop);
  void Close(TTravelReport& report);

  TFocusControl& Controller;
  const int32_t Start;
  TTravelProgress Progress;
  TTravelDone Done;
};

}  // namespace morvane
