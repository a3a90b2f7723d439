#pragma once
// Lands the focuser on Target by timed drive pulses, re-reading the count after each, and
// ends every move: stop commands, idle again, "GENERAL_DELAY_EVENT" set.

#include <atomic>
#include <string>

#include "platform/Thread.h"

namespace morvane {

class TFocusControl;

class TNudgeThread : public TThread {
 public:
  // StandAlone: the nudges are the whole move; otherwise they finish a run and first wait
  // for the end-move thread's hand-over on "THE_CTS_EVENT".
  TNudgeThread(TFocusControl& controller, int32_t target, bool standAlone);

  const int32_t Target;
  const bool StandAlone;

#ifdef MORVANE_TEST_HOOKS
  // Run first on the thread: tests delay its start, as a busy machine does. Only test_motion
  // compiles it in (tests/motion/CMakeLists.txt); the product has no hook.
  static std::atomic<void (*)()> StartHook;
#endif

 protected:
  void Execute() override;

 private:
  void ShowMessageText();
  // Waits until the count has come to rest (or a cancel).
  void WaitForRest();
  void Report(TWaitResult r, const char* timedOut, const char* abandoned, const char* failed);

  TFocusControl& Controller;
  std::string MessageText;
};

}  // namespace morvane
