// The temperature panel of the main window: the module's availability, single and automatic
// temperature readings with their running average, and the module's calibration value. Every
// exchange with the module runs here on the GUI thread and waits for its answer, so the window
// does not respond while a reading is under way. The menu item "Temperature" is shown (the
// form leaves it visible): an owner of the module needs the panel, and without a module the
// item only answers that the functions are not available.

#include <cmath>

#include "ui/fMorvane.h"
#include "ui_fMorvane.h"

namespace morvane {

namespace {

// The calibration value the module is given for an offset of 0.
constexpr int32_t CalibrationBase = 235;
// Room between the two panels when the window is open.
constexpr int PanelGap = 10;

// "%3.1f" with one blank, the degree sign and "C": 7 shows as "7.0 °C".
QString DegreesText(double value) {
  return QString::asprintf("%3.1f ", value) + QChar(0x00B0) + QLatin1Char('C');
}

}  // namespace

void TMainForm::Temp1Click() {
  const int openedWidth = ui->TempPanel->width() + CollapsedWidth() + PanelGap;
  if (Width() == openedWidth) {
    // Closing always works, also with the module gone silent, and ends the automatic readings.
    FTimer1.stop();
    ui->EnableSB->setChecked(false);
    SetWidth(CollapsedWidth());
    ui->TempPanel->setEnabled(false);
    return;
  }
  if (FocusControl->TCAvail()) {
    ui->TempPanel->setEnabled(true);
    SetWidth(openedWidth);
  } else {
    ShowMessage("Temperature Functions are not available");
  }
}

void TMainForm::GetTempButtonClick() {
  const double t = FocusControl->GetTemperature();
  ui->Label1->SetCaption(DegreesText(FocusControl->TCAvg()));
  ui->Label4->setText(DegreesText(t));
}

void TMainForm::GetCalButtonClick() {
  ui->Label2->setText(QString::number(FocusControl->TCCal()));
}

void TMainForm::SetCalButtonClick() {
  // Raises "Set Cal value failed!" when the module does not confirm the value; Label2 then
  // keeps what it showed.
  FocusControl->SetTCCal(static_cast<int>(std::lround(ui->OffsetSE->Value())) + CalibrationBase);
  ui->Label2->setText(QString::number(FocusControl->TCCal()));
}

void TMainForm::ResetTCClick() {
  FocusControl->ClearTemperatureSamples();
}

void TMainForm::EnableSBClick() {
  if (ui->EnableSB->isChecked())
    FTimer1.start();
  else
    FTimer1.stop();
}

// A reading that takes longer than the interval is followed by the next one when the window is
// free again: Qt does not fire a timer again while its handler still runs, which also holds
// back further readings while a failed reading's message is up.
void TMainForm::Timer1Timer() {
  GetTempButtonClick();
  // Lit, the pulse light goes out by itself after 50 ms.
  ui->lxmLiteFP1->SetLit(true);
}

void TMainForm::FocusControlAvailChange(TFocusControl* /*Sender*/, bool TCAvailValue) {
  ui->lxmLite1->SetLit(TCAvailValue);
}

}  // namespace morvane
