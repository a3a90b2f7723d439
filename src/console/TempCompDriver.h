#pragma once
// Drives the compensations from the GUI thread: applies the backlash setting to the
// controller, and on a timer reads the temperature module and moves the focuser as the
// temperature rule decides. The module is read only while the focuser is idle (no move by or
// to a count, no coarse run, no pause), never while held or while the camera interlock's
// permit is required and not given; module exchanges run on the GUI thread, as this does, so
// none runs beside a reading.

#include <QObject>
#include <QTimer>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "motion/TempCompRule.h"
#include "settings/CompensationSettings.h"

namespace morvane {

class TFocusControl;

class TTempCompDriver : public QObject {
 public:
  static constexpr int DefaultIntervalMs = 30000;
  // Ticks passed over after the module was found absent (five minutes at the default pace).
  static constexpr int AbsentRetryTicks = 9;

  TTempCompDriver(TFocusControl& controller, QObject* parent = nullptr);

  // Applies the settings (the backlash ones to the controller at once). Switching temperature
  // compensation on takes the reference from the next reading.
  void SetSettings(const TCompensationSettings& s);
  const TCompensationSettings& Settings() const { return FSettings; }
  void SetIntervalMs(int ms);

  // Holds compensation still for a holder (a bus name); released when every holder has let go.
  void Hold(const std::string& holder);
  void Release(const std::string& holder);
  bool Held() const { return !FHolders.empty(); }

  // One scheduled pass: read when the focuser is free, decide, move. Public for tests.
  void Tick();

  // A move, a coarse run or a pause runs, or the port is closed: the module is not read.
  bool Busy() const;

  TTempCompAction LastAction() const { return FLastAction; }
  int32_t LastMove() const { return FLastMove; }
  double Reference() const { return FSettings.TempReference; }
  // Switched on, the reference not yet read.
  bool ReferencePending() const { return FReferencePending; }
  bool Compensating() const { return FSettings.TempComp; }

  // Told what compensation did or why it waits (the status line); "" when all is well.
  std::function<void(const std::string&)> OnStatus;
  // The reference was taken or followed a compensation move: the settings file should keep
  // it, so that a re-read of the file does not put an older one back and repeat the moves.
  std::function<void(const TCompensationSettings&)> OnReferenceTaken;

 private:
  bool PermitMissing() const;
  void Report(TTempCompAction a, int32_t codes);
  // Adds a module reading to the samples if a tube could give it; tells what became of it.
  TReadingVerdict TakeReading(double celsius);

  TFocusControl& FController;
  QTimer FTimer;
  TCompensationSettings FSettings;
  std::set<std::string> FHolders;
  std::deque<double> FReadings;
  // The last reading, refused as too far from the one before: taken if the next one agrees.
  std::optional<double> FUnconfirmed;
  bool FReferencePending = false;
  // The count this driver left the focuser at: a count found elsewhere means somebody
  // refocused, and the present temperature becomes the reference.
  bool FKnowsCount = false;
  int32_t FOwnCount = 0;
  bool FOwnMoveRunning = false;
  int FAbsentTicks = 0;  // ticks still to pass over before the module is looked for again
  TTempCompAction FLastAction = TTempCompAction::taNone;
  int32_t FLastMove = 0;
};

}  // namespace morvane
