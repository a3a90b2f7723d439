#pragma once
// One focuser, one Morvane: what a copy starting on a session bus does about a copy that
// already owns the name. A window takes over from a copy without a window (it asks it over
// the bus to hand over, then waits for it to have closed, port and all); anything else leaves
// the running copy alone and ends.

#include <QString>

namespace morvane {

enum class TStartAction {
  saStart,        // nobody owns the name (or there is no bus): start
  saAskHandOver,  // a window starting: ask the running copy to hand over
  saEnd,          // a copy without a window starting: the running one keeps the focuser
};

// Pure: the first step for a copy starting, from whether it has a window and whether the
// name is owned.
TStartAction FirstStartAction(bool headless, bool nameOwned);

struct TTakeOver {
  bool Start = true;  // false: end with AlreadyRunningExitStatus, Message said why
  QString Message;    // for standard error; empty when there was nobody to take over from
  int WaitedMs = 0;   // from asking to the running copy's end
};

// Called before the window and its port exist. deadlineMs bounds the wait for the running
// copy to close (it stops the motor and saves first).
TTakeOver TakeOverRunningCopy(bool headless, int deadlineMs);

}  // namespace morvane
