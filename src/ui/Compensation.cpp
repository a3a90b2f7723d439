// Backlash and temperature compensation as the window and other programs reach them.

#include <ctime>

#include "console/TempCompDriver.h"
#include "platform/Signals.h"
#include "settings/CompensationSettings.h"
#include "ui/FocusMarker.h"
#include "ui/MainFormBus.h"
#include "ui/fCompensationForm.h"
#include "ui/fMorvane.h"

namespace morvane {

void TMainForm::ApplyCompensation(const TCompensationSettings& s) {
  TempComp().SetSettings(s);
  // Applied either way; a file that cannot be written is told, as the module's other
  // settings are.
  if (!SaveCompensationSettings(FIniPath, TempComp().Settings()))
    LogLine("Unable to write to " + FIniPath);
  BusStateChanged();  // other programs see the change, whoever made it
}

void TMainForm::CompensationSettings1Click() {
  FCompensationForm->Load();
  FCompensationForm->exec();
  BusStateChanged();  // the settings may have changed
}

void TMainForm::MarkFocus1Click() {
  MarkFocus();
}

TMarkOutcome TMainForm::MarkFocus() {
  const TMarkOutcome m = FFocusMarker->Mark(static_cast<int64_t>(std::time(nullptr)));
  if (m.Refusal != TMarkRefusal::mrNone) {
    SetStatusNote(QStringLiteral("Focus not marked: %1").arg(QString::fromStdString(m.Text)));
    return m;
  }
  const QString note =
      QStringLiteral("Focus marked: %1 at %2 °C").arg(m.Position).arg(m.Celsius, 0, 'f', 2);
  LogLine(note.toStdString());
  SetStatusNote(note);
  return m;
}

void TMainFormConsole::SetCompensation(const TCompensationSettings& s) {
  Form.ApplyCompensation(s);
}

TMarkOutcome TMainFormConsole::MarkFocus() {
  return Form.MarkFocus();
}

}  // namespace morvane
