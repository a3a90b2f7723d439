// The main window and other programs: "MORVANE_MESSAGE" commands handled as the window
// procedure handles them, and the focuser's D-Bus interface on the console.

#include <QAbstractButton>

#include <cstdio>

#include "host/ExceptionBoundary.h"
#include "ui/MainFormBus.h"
#include "ui/fMorvane.h"
#include "ui_fMorvane.h"

namespace morvane {

int32_t TMainFormConsole::ReadoutValue() {
  // The hidden "Say" test button can leave a text that reads as no number; the bus then gets
  // the count the readout last showed.
  try {
    return Form.ReadoutValue();
  } catch (const std::exception&) {
    return Form.Controller().CTSCount();
  }
}

// The controller's Idle, read without recording it: the controller raises an idle change only
// when it differs from the last value read, so a read from here between a motion thread's
// change and its report would swallow the report, and the console (and every program that
// follows it) would never learn that the move ended.
bool TMainFormConsole::Idle() {
  return Form.Controller().RunIdle.load() && Form.Controller().NudgeIdle.load();
}

// Stop is enabled exactly while the console shows a move by or to a count.
bool TMainFormConsole::ShownIdle() {
  return !Form.Form().CancelButton->isEnabled();
}

bool TMainFormConsole::PortOpen() {
  return Form.Controller().PortOpen();
}

int32_t TMainFormConsole::ComPort() {
  return Form.Controller().ComPort();
}

// The module's last answer; asking again would be an exchange on the line.
bool TMainFormConsole::TemperatureAvailable() {
  return Form.Controller().LastTCAvail();
}

bool TMainFormConsole::Running() {
  return Form.CoarseRunning();
}

int32_t TMainFormConsole::PositionScale() {
  return Form.PositionScale();
}

void TMainFormConsole::SetPositionScale(int32_t scale) {
  Form.SetPositionScale(scale);
}

std::string TMainFormConsole::LastFault() {
  return Form.Controller().LastFault();
}

bool TMainFormConsole::ReadTemperature(double& celsius) {
  if (FProbed && !Form.Controller().LastTCAvail()) return false;
  FProbed = true;
  // Asks the module whether it is there first; a sample for the temperature panel's average.
  celsius = Form.Controller().GetTemperature();
  return Form.Controller().LastTCAvail();
}

// Move By and Move To with the amount given instead of the spin edit's.
void TMainFormConsole::MoveByClick(int32_t codes) {
  if (!Idle() || Form.RefuseOutsideLimits(int64_t{Form.Controller().CTSCount()} + codes)) return;
  Form.LogMoveAsked(Form.Controller().CTSCount() + codes, "a program on the bus");
  Form.SilenceVoice();
  Form.Controller().MoveBy(codes);
}

void TMainFormConsole::MoveToClick(int32_t count) {
  if (!Idle() || Form.RefuseOutsideLimits(count)) return;
  Form.LogMoveAsked(count, "a program on the bus");
  Form.SilenceVoice();
  Form.Controller().MoveTo(count);
}

// The Stop button is enabled only once the move's idle report has reached the window: a Stop
// that comes sooner stops all the same.
void TMainFormConsole::StopClick() {
  Form.StopAllClick();
}

void TMainFormConsole::ResetClick() {
  Form.ResetButtonClick();
}

void TMainFormConsole::CoarseDown(bool in) {
  Form.Focus_InBtnMouseDown(in ? Form.Form().Focus_InBtn : Form.Form().Focus_OutBtn);
}

void TMainFormConsole::CoarseUp() {
  Form.Focus_InBtnMouseUp(Form.Form().Focus_InBtn);
}

void TMainFormConsole::MessageMoveTo(int32_t count) {
  if (Form.RefuseOutsideLimits(count)) return;
  Form.LogMoveAsked(count, "MORVANE_MESSAGE");
  Form.SilenceVoice();
  Form.Controller().MoveTo(count);
}

std::string TMainFormConsole::PortDevice() {
  return Form.PortDevice();
}

std::string TMainFormConsole::PortProblem() {
  return Form.PortProblem().toStdString();
}

void TMainFormConsole::MessageMoveBy(int32_t codes) {
  if (Form.RefuseOutsideLimits(int64_t{Form.Controller().CTSCount()} + codes)) return;
  Form.LogMoveAsked(Form.Controller().CTSCount() + codes, "MORVANE_MESSAGE");
  Form.SilenceVoice();
  Form.Controller().MoveBy(codes);
}

void TMainFormConsole::Broadcast(int32_t wParam, int32_t lParam) {
  Form.Broadcast(wParam, lParam);
}

bool TMainFormConsole::HandOver() {
  return Form.HandOver();
}

void TMainForm::SetHandOver(std::function<bool()> handOver) {
  FHandOver = std::move(handOver);
}

// A copy without a window has been given a way to close; a window stays and shows itself, so
// that the user starting a second one finds the first.
bool TMainForm::HandOver() {
  if (FHandOver) {
    Log("Handing the focuser over to a window starting");
    return FHandOver();
  }
  Log("A second window was refused the focuser");
  if (isMinimized()) showNormal();
  raise();
  activateWindow();
  return false;
}

void TMainForm::StartBusInterfaces() {
  FBus = std::make_unique<TMainFormBus>(*this);
  FBus->Listener = std::make_unique<TMessageListener>(
      [this](int32_t w, int32_t l) { CallHandler([&] { MorvaneMessageReceived(w, l); }); });
  if (!FBus->Service.Publish()) {
    std::fprintf(stderr, "Morvane: running without the focuser's D-Bus interface: %s\n",
                 FBus->Service.Error()
                     .toLocal8Bit()
                     .constData());  // Said in the window too: morvanectl and INDI clients reach
                                     // the other copy, not this one.
    SetBusProblem(QStringLiteral("No bus interface: ") + FBus->Service.Error());
    FBus->Service.OnNameTaken = [this] {
      SetBusProblem(QString());
      BusStateChanged();
    };
  }
}

void TMainForm::StopBusInterfaces() {
  FBus.reset();
}

void TMainForm::MorvaneMessageReceived(int32_t WParam, int32_t LParam) {
  if (FBus && FocusControl) HandleMorvaneMessage(FBus->Console, WParam, LParam);
}

void TMainForm::BusStateChanged() {
  if (FBus && FocusControl) FBus->Service.StateChanged();
}

}  // namespace morvane
