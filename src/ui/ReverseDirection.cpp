// Setup's "Reverse Focuser Direction" as other programs set it (INDI's FOCUS_REVERSE_MOTION):
// applied to the controller and saved in the settings file, as Setup's OK would.

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

bool TMainFormConsole::ReverseDirection() {
  return Form.Controller().ReverseDir();
}

void TMainFormConsole::SetReverseDirection(bool on) {
  Form.SetReverseDirection(on);
}

}  // namespace morvane
