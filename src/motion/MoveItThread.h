#pragma once
// Starts a run from a thread of its own, so that the start can wait for the camera
// interlock and for the end of a pause.

#include <string>

#include "platform/Thread.h"

namespace morvane {

class TFocusControl;

class TMoveItThread : public TThread {
 public:
  TMoveItThread(TFocusControl& controller, bool up);

  const bool Up;

 protected:
  void Execute() override;

 private:
  void ShowMessageText();

  TFocusControl& Controller;
  std::string MessageText;
};

}  // namespace morvane
