#include "ui/FocusMarker.h"

#include <algorithm>
#include <exception>

#include "console/TempCompDriver.h"
#include "controller/Objects.h"
#include "motion/TempCompRule.h"
#include "settings/FocusMarks.h"

namespace morvane {

namespace {

TMarkOutcome Refused(TMarkRefusal why, std::string text) {
  return {why, std::move(text), 0, 0};
}

}  // namespace

TFocusMarker::TFocusMarker(TFocusControl& controller, const TTempCompDriver& driver,
                           std::string marksPath)
    : FController(controller), FDriver(driver), FMarksPath(std::move(marksPath)) {}

TMarkOutcome TFocusMarker::Read(double& average) {
  const int readings = std::clamp(FDriver.Settings().TempSamples, 1, MostReadings);
  double sum = 0;
  for (int i = 0; i < readings; ++i) {
    if (!FController.PortOpen())
      return Refused(TMarkRefusal::mrPortClosed, "The focuser's port is not open");
    if (FDriver.Busy())
      return Refused(TMarkRefusal::mrBusy,
                     "The focuser is moving; mark focus once it stands still");
    double t = 0;
    try {
      t = FController.GetTemperature();
    } catch (const std::exception& e) {
      return Refused(
          TMarkRefusal::mrFailed,
          std::string("The temperature module's answer was not understood: ") + e.what());
    }
    if (!FController.LastTCAvail())
      return Refused(TMarkRefusal::mrNotAvailable, "Temperature Functions are not available");
    // Below the module's "no reading" value, or no tube's temperature.
    if (t <= -99.0) return Refused(TMarkRefusal::mrFailed, "The temperature reading failed");
    if (t < TTempCompRule::LowestCelsius || t > TTempCompRule::HighestCelsius)
      return Refused(TMarkRefusal::mrFailed, "The temperature is out of range");
    sum += t;
  }
  average = sum / readings;
  return {TMarkRefusal::mrNone, "", average, 0};
}

TMarkOutcome TFocusMarker::Mark(int64_t utcSeconds) {
  double celsius = 0;
  TMarkOutcome outcome = Read(celsius);
  if (outcome.Refusal != TMarkRefusal::mrNone) return outcome;
  // The readings took a while: a move started meanwhile would make the count another focus's.
  if (FDriver.Busy())
    return Refused(TMarkRefusal::mrBusy, "The focuser is moving; mark focus once it stands still");
  outcome.Position = FController.CTSCount();
  if (!AddFocusMark(FMarksPath, TFocusMark{utcSeconds, celsius, outcome.Position}))
    return Refused(TMarkRefusal::mrFailed, "Unable to write to " + FMarksPath);
  return outcome;
}

}  // namespace morvane
