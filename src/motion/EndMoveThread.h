#pragma once
// Watches a run and stops it at StopPoint, StopFactor codes short of the target; hands over
// to the nudge thread on "THE_CTS_EVENT". Re-drives a run that a pause interrupted.

#include "platform/Thread.h"

namespace morvane {

class TFocusControl;

class TEndMoveThread : public TThread {
 public:
  TEndMoveThread(TFocusControl& controller, int32_t stopPoint);

  const int32_t StopPoint;

 protected:
  void Execute() override;

 private:
  TFocusControl& Controller;
};

}  // namespace morvane
