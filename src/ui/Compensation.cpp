// Backlash and temperature compensation as the window and other programs reach them.

#include "platform/Signals.h"
#include "settings/CompensationSettings.h"
#include "ui/MainFormBus.h"
#include "ui/fMorvane.h"

namespace morvane {

void TMainForm::ApplyCompensation(const TCompensationSettings& s) {
  FTempComp->SetSettings(s);
  // Applied either way; a file that cannot be written is told, as the module's other
  // settings are.
  if (!SaveCompensationSettings(FIniPath, FTempComp->Settings()))
    LogLine("Unable to write to " + FIniPath);
  BusStateChanged();  // other programs see the change, whoever made it
}

TCompensationSettings TMainFormConsole::Compensation() {
  return Form.TempComp().Settings();
}

void TMainFormConsole::SetCompensation(const TCompensationSettings& s) {
  Form.ApplyCompensation(s);
}

void TMainFormConsole::HoldCompensation(const std::string& holder) {
  Form.TempComp().Hold(holder);
}

void TMainFormConsole::ReleaseCompensation(const std::string& holder) {
  Form.TempComp().Release(holder);
}

bool TMainFormConsole::CompensationHeld() {
  return Form.TempComp().Held();
}

int32_t TMainFormConsole::LastCompensationMove() {
  return Form.TempComp().LastMove();
}

}  // namespace morvane
