// The main window and other programs: "MORVANE_MESSAGE" commands handled as the window
// procedure handles them, and the focuser's D-Bus interface on the console.

#include <QAbstractButton>

#include <cstdio>

#include "host/ExceptionBoundary.h"
#include "ui/MainFormBus.h"
#include "ui/fMorvane.h"
#include "ui_fMorvane.h"

namespace morvane {

int32_t TMainFormConsole::PositionScale() {
  return Form.PositionScale();
}

void TMainFormConsole::SetPositionScale(int32_t scale) {
  Form.SetPositionScale(scale);
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
  FBus = std::make_unique<TMainFormBus>(*FConsole);
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
  if (FBus && FocusControl) HandleMorvaneMessage(*FConsole, WParam, LParam);
}

void TMainForm::BusStateChanged() {
  if (FBus && FocusControl) FBus->Service.StateChanged();
}

}  // namespace morvane
