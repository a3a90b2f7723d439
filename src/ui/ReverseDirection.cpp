// Settings other programs write on the bus, applied and saved in the settings file as Setup's
// OK would: "Reverse Focuser Direction" (INDI's FOCUS_REVERSE_MOTION) and the clients'
// position scale (INDI's FOCUS_MAX).

#include <algorithm>
#include <string>

#include "platform/BusContract.h"
#include "platform/Signals.h"
#include "settings/Profile.h"
#include "ui/MainFormBus.h"
#include "ui/fMorvane.h"

namespace morvane {

void TMainForm::SetReverseDirection(bool on) {
  FocusControl->SetReverseDir(on);
  if (!WriteProfileString(FIniPath, "FocusControl", "ReverseDirection", on ? "1" : "0"))
    LogLine("Unable to write to " + FIniPath);
  BusStateChanged();
}

void TMainForm::SetPositionScale(int32_t scale) {
  FPositionScale = std::clamp(scale, LeastPositionScale, MostPositionScale);
  if (!WriteProfileString(FIniPath, "FocusControl", "PositionScale",
                          std::to_string(FPositionScale)))
    LogLine("Unable to write to " + FIniPath);
  BusStateChanged();
}

bool TMainFormConsole::ReverseDirection() {
  return Form.Controller().ReverseDir();
}

void TMainFormConsole::SetReverseDirection(bool on) {
  Form.SetReverseDirection(on);
}

}  // namespace morvane
