#pragma once
// What the bus side needs of the console: its state as the console shows it, and the
// console's actions. TConsole (console/Console.h) implements it; tests use a fake. GUI thread
// only.

#include <cstdint>
#include <functional>
#include <string>

#include "controller/LimitRule.h"
#include "platform/BusContract.h"
#include "settings/CompensationSettings.h"

namespace morvane {

// A focus mark: logged with the module's averaged temperature and the count, or refused.
enum class TMarkRefusal { mrNone, mrPortClosed, mrBusy, mrNotAvailable, mrFailed };
struct TMarkOutcome {
  TMarkRefusal Refusal = TMarkRefusal::mrNotAvailable;
  std::string Text;  // why it was refused
  double Celsius = 0;
  int32_t Position = 0;
};

// The end of "Measure backlash" as the bus tells it.
struct TBacklashReply {
  std::string ErrorName;  // empty: a result; otherwise the D-Bus error it ended with
  bool Seen = false;      // play between the motor and the encoder was measured
  double PlayCodes = 0;
  double Uncertainty = 0;  // seen: plus or minus; not seen: the most that could hide
  std::string Text;
};

// The end of "Find Travel" as the bus tells it.
struct TTravelReply {
  std::string ErrorName;  // empty: the stops; otherwise the D-Bus error it ended with
  int32_t LowerStop = 0;
  int32_t UpperStop = 0;
  std::string Text;
};

class TConsoleActions {
 public:
  virtual ~TConsoleActions() = default;

  // The count the console shows.
  virtual int32_t ShownPosition() = 0;
  // The controller's Idle: false while a move by or to a count runs.
  virtual bool Idle() = 0;
  // The idle state the console shows: the value of the last idle change it handled. It sees
  // every change in order, where Idle() read later may have moved on.
  virtual bool ShownIdle() = 0;
  virtual bool PortOpen() = 0;
  virtual int32_t ComPort() = 0;
  virtual bool TemperatureAvailable() = 0;
  // False while the count is one restored after no clean exit and not yet confirmed.
  virtual bool PositionTrusted() { return true; }
  // The device behind the port ("/dev/ttyUSB0", "simulator"), and why the port is not open
  // (empty while it is).
  virtual std::string PortDevice() { return {}; }
  virtual std::string PortProblem() { return {}; }
  // Setup's "Reverse Focuser Direction": In and Out swapped at the motor. Set, it is applied
  // and saved in the settings file.
  virtual bool ReverseDirection() { return false; }
  virtual void SetReverseDirection(bool) {}
  // A coarse run runs: from a coarse button's press (or CoarseDown) to its release.
  virtual bool Running() = 0;
  // One reading of the temperature module, in degrees Celsius; false when the module does not
  // answer. The first call asks whether the module is there (up to two seconds of waiting on
  // the line without one); after a "no", later calls do not ask again.
  virtual bool ReadTemperature(double& celsius) = 0;

  // The console's buttons, each with its own guards: Move By and Move To do nothing while a
  // move runs. Stop has none: it stops whatever drives the motor (a move by or to a count, a
  // coarse run), even before the console shows the move.
  virtual void MoveByClick(int32_t codes) = 0;
  virtual void MoveToClick(int32_t count) = 0;
  virtual void StopClick() = 0;
  virtual void ResetClick() = 0;
  // "Set Position...": the count becomes count without a move. Empty when done, otherwise
  // why it was refused (a move or a run is under way).
  virtual std::string SyncCount(int32_t) { return "Setting the position is not available"; }
  // A coarse button pressed (in: "In +", else "Out -") and released.
  virtual void CoarseDown(bool in) = 0;
  virtual void CoarseUp() = 0;

  // A move another program asked for on "MORVANE_MESSAGE": the voice is silenced and the move
  // starts without looking at Idle (a running move is superseded).
  virtual void MessageMoveTo(int32_t count) = 0;
  virtual void MessageMoveBy(int32_t codes) = 0;
  // A window starting asks for the port: true when this copy closes to let it have it (one
  // without a window), false when it keeps it (its window is brought to the front instead).
  virtual bool HandOver() { return false; }
  // Broadcast (w, l) of "MORVANE_MESSAGE".
  virtual void Broadcast(int32_t wParam, int32_t lParam) = 0;

  // Backlash and temperature compensation; a console without them has them off.
  virtual TCompensationSettings Compensation() { return {}; }
  // Applies and saves the settings.
  virtual void SetCompensation(const TCompensationSettings&) {}
  // Temperature compensation makes no move while any holder holds it.
  virtual void HoldCompensation(const std::string&) {}
  virtual void ReleaseCompensation(const std::string&) {}
  virtual bool CompensationHeld() { return false; }
  // The codes of the last compensation move (0: none yet).
  virtual int32_t LastCompensationMove() { return 0; }
  // What the stall guard last stopped, as the status line showed it; empty since the next
  // move or run started.
  virtual std::string LastFault() { return {}; }
  // The clients' position scale, [FocusControl] PositionScale.
  virtual int32_t PositionScale() { return DefaultPositionScale; }
  // Applied and saved in the settings file.
  virtual void SetPositionScale(int32_t) {}
  // Marks "in focus here" for learning the coefficient; nothing is logged when refused.
  virtual TMarkOutcome MarkFocus() {
    return {TMarkRefusal::mrNotAvailable, "Temperature Functions are not available"};
  }
  // "Measure backlash": done is called on the GUI thread when it has ended, or at once when
  // it cannot start.
  virtual void MeasureBacklash(std::function<void(const TBacklashReply&)> done) {
    done({NotAvailableError, false, 0, 0, "Measuring the backlash is not available"});
  }
  // Travel limits: applied and saved; empty when done, else why not (a move or a run is under
  // way).
  virtual TTravelLimits TravelLimits() { return {}; }
  virtual std::string SetTravelLimits(const TTravelLimits&) {
    return "Travel limits are not available";
  }
  // "Find Travel": done is called on the GUI thread when it has ended, or at once when it
  // cannot start.
  virtual void FindTravel(std::function<void(const TTravelReply&)> done) {
    done({NotAvailableError, 0, 0, "Find Travel is not available"});
  }
};

// Moves are limited to targets the count and the motion code can hold with room to spare;
// two million turns of any focuser lie inside.
inline bool MoveTargetInRange(int64_t target) {
  return target >= -MoveLimit && target <= MoveLimit;
}

}  // namespace morvane
