#include "settings/fSetupForm.h"

#include <QPushButton>
#include <QScreen>
#include <QShowEvent>

#include "controller/Objects.h"
#include "host/ExceptionBoundary.h"
#include "platform/PosixSerialPort.h"
#include "settings/LimitSettings.h"
#include "settings/SettingsFile.h"
#include "ui_fSetupForm.h"

namespace morvane {

namespace {

void ShowSpin(TSpinEdit* edit, const TSpinItem& item) {
  edit->setValue(item.Value());
}

TSpinItem ReadSpin(const TSpinEdit* edit, TSpinItem item) {
  item.SetValue(edit->Value());
  return item;
}

}  // namespace

TSetupForm::TSetupForm(TFocusControl& control, TSetupFormHost& host, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TSetupForm>()), FControl(control), FHost(host) {
  ui->setupUi(this);
  PrepareControls();
  MakeConnections();
}

TSetupForm::~TSetupForm() = default;

void TSetupForm::PrepareControls() {
  setFixedSize(434, 331);
  setSizeGripEnabled(false);
  // The hints break their lines with CR LF; uic keeps only the LF of the form file.
  for (QWidget* control : findChildren<QWidget*>()) {
    QString hint = control->toolTip();
    if (hint.isEmpty()) continue;
    hint.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
        .replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    control->setToolTip(hint);
  }
}

void TSetupForm::MakeConnections() {
  // Each button's handler runs behind the exception boundary, so that a settings file that
  // refuses a write is reported and the dialog stays usable.
  const auto connectClick = [this](QPushButton* button, void (TSetupForm::*handler)()) {
    connect(button, &QPushButton::clicked, this,
            [this, handler] { CallHandler([this, handler] { (this->*handler)(); }); });
  };
  connectClick(ui->UpdatePgmParametersButton, &TSetupForm::UpdatePgmParametersButtonClick);
  connectClick(ui->SaveSettingsButton, &TSetupForm::SaveSettingsButtonClick);
  connectClick(ui->RevertSavedButton, &TSetupForm::RevertSavedButtonClick);
  connectClick(ui->FactoryDefaultsButton, &TSetupForm::FactoryDefaultsButtonClick);
  connectClick(ui->CloseButton, &TSetupForm::CloseButtonClick);
}

TStagedSettings TSetupForm::Staged() const {
  TStagedSettings staged;
  staged.ComPortRG.SetItemIndex(ui->ComPortRG->ItemIndex());
  staged.CommandRG.SetItemIndex(ui->CommandRG->ItemIndex());
  staged.VoiceRG.SetItemIndex(ui->VoiceRG->ItemIndex());
  staged.NudgeTimeSE = ReadSpin(ui->NudgeTimeSE, staged.NudgeTimeSE);
  staged.CloseNudgeTimeSE = ReadSpin(ui->CloseNudgeTimeSE, staged.CloseNudgeTimeSE);
  staged.NudgeDelaySE = ReadSpin(ui->NudgeDelaySE, staged.NudgeDelaySE);
  staged.StopFactorSE = ReadSpin(ui->StopFactorSE, staged.StopFactorSE);
  staged.CodesPerRevSE = ReadSpin(ui->CodesPerRevSE, staged.CodesPerRevSE);
  staged.TravelPerRevSE = ReadSpin(ui->TravelPerRevSE, staged.TravelPerRevSE);
  staged.ReverseDirCB.SetChecked(ui->ReverseDirCB->isChecked());
  staged.DualSenseCB.SetChecked(ui->DualSenseCB->isChecked());
  staged.SavePosCB.SetChecked(ui->SavePosCB->isChecked());
  return staged;
}

void TSetupForm::SetStaged(const TStagedSettings& staged) {
  ui->ComPortRG->SetItemIndex(staged.ComPortRG.ItemIndex());
  ui->CommandRG->SetItemIndex(staged.CommandRG.ItemIndex());
  ui->VoiceRG->SetItemIndex(staged.VoiceRG.ItemIndex());
  ShowSpin(ui->NudgeTimeSE, staged.NudgeTimeSE);
  ShowSpin(ui->CloseNudgeTimeSE, staged.CloseNudgeTimeSE);
  ShowSpin(ui->NudgeDelaySE, staged.NudgeDelaySE);
  ShowSpin(ui->StopFactorSE, staged.StopFactorSE);
  ShowSpin(ui->CodesPerRevSE, staged.CodesPerRevSE);
  ShowSpin(ui->TravelPerRevSE, staged.TravelPerRevSE);
  ui->ReverseDirCB->setChecked(staged.ReverseDirCB.Checked());
  ui->DualSenseCB->setChecked(staged.DualSenseCB.Checked());
  ui->SavePosCB->setChecked(staged.SavePosCB.Checked());
}

TTravelLimits TSetupForm::Limits() const {
  return {ui->LimitsCB->isChecked(), static_cast<int32_t>(ui->LowerLimitSE->Value()),
          static_cast<int32_t>(ui->UpperLimitSE->Value())};
}

void TSetupForm::ShowLimits(const TTravelLimits& limits) {
  ui->LimitsCB->setChecked(limits.Set);
  // Off, the numbers last set are kept for the next time they are turned on.
  ui->LowerLimitSE->setValue(limits.Lower);
  ui->UpperLimitSE->setValue(limits.Upper);
}

int TSetupForm::VoiceIndex() const {
  return ui->VoiceRG->ItemIndex();
}

bool TSetupForm::SavePos() const {
  return ui->SavePosCB->isChecked();
}

void TSetupForm::LoadSettings() {
  // Loaded into a copy, so that a file that cannot be made leaves the controls as they were.
  TStagedSettings staged = Staged();
  morvane::LoadSettings(FHost.IniPath(), staged, FHost);
  SetStaged(staged);
  ShowLimits(ReadTravelLimits(FHost.IniPath()));
}

void TSetupForm::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    if (const QScreen* screen = this->screen()) move(screen->geometry().center() - rect().center());
    CallHandler([this] { FormShow(); });
  }
  QDialog::showEvent(event);
}

void TSetupForm::FormShow() {
  // The applied values replace the refreshed items; the others keep what they held.
  TStagedSettings staged = Staged();
  staged.VoiceRG.SetItemIndex(FHost.AppliedVoice());
  staged.NudgeTimeSE.SetValue(FControl.NudgeTime());
  staged.NudgeDelaySE.SetValue(FControl.NudgeSleep());
  staged.CloseNudgeTimeSE.SetValue(FControl.CloseNudgeTime());
  staged.StopFactorSE.SetValue(FControl.StopFactor());
  staged.ReverseDirCB.SetChecked(FControl.ReverseDir());
  staged.CommandRG.SetItemIndex(FControl.UseRTS_DTR() ? 1 : 0);
  staged.ComPortRG.SetItemIndex(FControl.ComPort() - 1);
  SetStaged(staged);
  if (const TTravelLimits applied = FControl.TravelLimits(); applied.Set)
    ShowLimits(applied);
  else
    ui->LimitsCB->setChecked(false);
}

void TSetupForm::UpdatePgmParametersButtonClick() {
  const TStagedSettings staged = Staged();
  FControl.SetNudgeTime(staged.NudgeTimeSE.Value());
  FControl.SetNudgeSleep(staged.NudgeDelaySE.Value());
  FControl.SetCloseNudgeTime(staged.CloseNudgeTimeSE.Value());
  FControl.SetStopFactor(staged.StopFactorSE.AsInteger());
  FControl.SetUseRTS_DTR(staged.CommandRG.ItemIndex() == 1);
  FHost.SetSpeedRGEnabled(!FControl.UseRTS_DTR());
  FControl.SetReverseDir(staged.ReverseDirCB.Checked());
  FControl.SetDualSense(staged.DualSenseCB.Checked());
  const int comPort = staged.ComPortRG.ItemIndex() + 1;
  // A port lost since it was opened (a USB adapter pulled out) is closed by the controller
  // while the flag still says opened: reopen it then as well.
  if (!FPortOpened || !FControl.PortOpen() || FControl.ComPort() != comPort) {
    FControl.SetComPort(comPort);
    FPortOpened = FControl.OpenPort();
    if (!FPortOpened) {
      const std::string device = FHost.PortDeviceFor(FControl.ComPort());
      std::string text = "Could not open COM " + std::to_string(FControl.ComPort());
      if (!device.empty()) text += " (" + device + ")";
      if (const int error = FControl.LastOpenError())
        text += "\n\n" + PortOpenAdvice(error, device);
      FHost.ShowMessage(text);
    }
  }
  FHost.SetAppliedVoice(staged.VoiceRG.ItemIndex());
  ApplyLimits();
}

bool TSetupForm::ApplyLimits() {
  const TTravelLimits limits = Limits();
  if (limits.Set && !LimitsValid(limits.Lower, limits.Upper)) {
    FHost.ShowMessage("Travel limits not set: " + LimitsRefusalText(limits.Lower, limits.Upper));
    return false;
  }
  if (limits == FControl.TravelLimits() || (!limits.Set && !FControl.TravelLimits().Set))
    return true;
  if (!FControl.SetTravelLimits(limits)) {
    FHost.ShowMessage("Travel limits not set: a move or a run is under way; Stop it first");
    return false;
  }
  FHost.TravelLimitsChanged();
  return true;
}

bool TSetupForm::ReopenPort() {
  FPortOpened = FControl.OpenPort();
  return FPortOpened;
}

void TSetupForm::SaveSettingsButtonClick() {
  morvane::SaveSettings(FHost.IniPath(), Staged());
  const TTravelLimits limits = Limits();
  // Limits that could not be set are not saved either.
  if (limits.Set && !LimitsValid(limits.Lower, limits.Upper)) {
    FHost.ShowMessage("Travel limits not saved: " + LimitsRefusalText(limits.Lower, limits.Upper));
    return;
  }
  if (!SaveTravelLimits(FHost.IniPath(), limits))
    FHost.ShowMessage("Unable to write to " + FHost.IniPath());
}

void TSetupForm::RevertSavedButtonClick() {
  LoadSettings();
}

void TSetupForm::FactoryDefaultsButtonClick() {
  TStagedSettings staged = Staged();
  staged.ComPortRG.SetItemIndex(0);
  staged.CommandRG.SetItemIndex(1);
  staged.NudgeTimeSE.SetValue(0.015);
  staged.CloseNudgeTimeSE.SetValue(0.01);
  staged.NudgeDelaySE.SetValue(0.15);
  staged.StopFactorSE.SetValue(12);
  staged.CodesPerRevSE.SetValue(512);
  staged.TravelPerRevSE.SetValue(0.58);
  staged.ReverseDirCB.SetChecked(false);
  staged.DualSenseCB.SetChecked(false);
  staged.SavePosCB.SetChecked(true);
  staged.VoiceRG.SetItemIndex(2);
  SetStaged(staged);
  ui->LimitsCB->setChecked(false);
  FHost.SetTop(1);
  FHost.SetLeft(1);
}

void TSetupForm::CloseButtonClick() {
  reject();
}

}  // namespace morvane
