// The focusing console of the main window: readout and lights, coarse, fine, Move By, Move To,
// Stop and Reset, and the keys that drive the coarse buttons.

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QTimer>

#include <utility>

#include "host/ExceptionBoundary.h"
#include "platform/BusContract.h"
#include "platform/Timing.h"
#include "settings/RadioGroup.h"
#include "ui/fMorvane.h"
#include "ui_fMorvane.h"

namespace morvane {

namespace {

constexpr int VoiceNone = 2;

QString ReadoutText(int32_t count) {
  return QString::asprintf("%.4d", count);
}

}  // namespace

void TMainForm::FocusControlCountChange(TFocusControl* /*Sender*/, int32_t CTSCount,
                                        bool DSRValue) {
  FConsole->RaiseCount(CTSCount, DSRValue);
}

void TMainForm::ShowCountChange(int32_t CTSCount, bool DSRValue) {
  if (!FMovingTimer.isActive()) FMovingTimer.start();
  ui->MovingLite->SetLit(true);
  ui->CTSLabel->SetCaption(ReadoutText(CTSCount));
  ui->OutLite->SetLit(DSRValue);
  ui->InLite->SetLit(!DSRValue);
  BusStateChanged();
}

void TMainForm::FocusControlIdleChange(TFocusControl* /*Sender*/, bool IdleValue) {
  QPointer<TMainForm> self(this);
  FHost.Post([self, IdleValue] {
    if (self) self->ShowIdleChange(IdleValue);
  });
}

void TMainForm::ShowIdleChange(bool IdleValue) {
  // The motion threads' last changes may arrive after the close has freed the controller.
  if (!FocusControl) return;
  // Count changes raised before this idle change are shown first.
  FConsole->FlushCount();
  FConsole->ShowIdle(IdleValue);
  if (VoiceSelection() != VoiceNone && IdleValue) {
    SilenceVoice();
    SayReadout(500);
  }
  Broadcast(mmIdle, IdleValue ? 1 : 0);
  if (IdleValue) Broadcast(mmPosition, FConsole->ShownPosition());
  BusStateChanged();
  if (IdleValue) LogMoveEnd();
  if (IdleValue) NoteMoveEnd();
  if (IdleValue) KeepPosition(false);
}

void TMainForm::ShowIdleButtons(bool idle) {
  ui->CancelButton->setEnabled(!idle);
  if (!FocusControl->UseRTS_DTR()) ui->SpeedRG->setEnabled(idle);
  for (QAbstractButton* fine : {ui->In10, ui->In5, ui->In1, ui->Out1, ui->Out5, ui->Out10})
    fine->setEnabled(idle);
}

bool TMainForm::MotionIdle() const {
  return FocusControl->RunIdle.load() && FocusControl->NudgeIdle.load();
}

void TMainForm::Focus_InBtnMouseDown(QAbstractButton* Sender) {
  if (!PortReady()) return;
  if (MotionIdle()) SilenceVoice();
  const auto speed = static_cast<uint8_t>(std::max(0, ui->SpeedRG->ItemIndex()));
  if (Sender == ui->Focus_InBtn) FocusControl->StartMove(true, speed);
  if (Sender == ui->Focus_OutBtn) FocusControl->StartMove(false, speed);
  FConsole->SetRunning(true);
  Broadcast(mmIdle, 0);
  BusStateChanged();
}

void TMainForm::Focus_InBtnMouseUp(QAbstractButton* /*Sender*/) {
  FocusControl->StopMotor();
  FConsole->SetRunning(false);
  BusStateChanged();
  if (VoiceSelection() != VoiceNone) SayReadout(1500);
  Broadcast(mmIdle, 1);
  // Not restarted when already running: two releases within 500 ms give one broadcast.
  if (!FFW2Timer.isActive()) FFW2Timer.start();
  // Kept once the motor has coasted to rest.
  QTimer::singleShot(KeepAfterRunMs, this, [this] {
    if (FocusControl && !FConsole->Running() && MotionIdle()) KeepPosition(false);
  });
}

void TMainForm::In10Click(QAbstractButton* Sender) {
  SilenceVoice();
  if (!MotionIdle()) return;
  int32_t amount = 0;
  if (Sender == ui->In10) amount = 10;
  if (Sender == ui->In5) amount = 5;
  if (Sender == ui->In1) amount = 1;
  if (Sender == ui->Out1) amount = -1;
  if (Sender == ui->Out5) amount = -5;
  if (Sender == ui->Out10) amount = -10;
  if (!PortReady()) return;
  if (RefuseOutsideLimits(int64_t{FocusControl->CTSCount()} + amount)) return;
  NoteMoveTarget(FocusControl->CTSCount() + amount);
  FocusControl->MoveBy(amount);
}

void TMainForm::MoveByButtonClick() {
  // The field gives up the focus before a click is handled; a click from the keyboard or a
  // program does not move the focus, so the typed text is taken here as leaving would take it.
  const std::optional<int32_t> n = ui->MoveBySE->Commit();
  if (!n || !MotionIdle() || !PortReady()) return;
  if (RefuseOutsideLimits(int64_t{FocusControl->CTSCount()} + *n)) return;
  SilenceVoice();
  NoteMoveTarget(FocusControl->CTSCount() + *n);
  FocusControl->MoveBy(*n);
}

void TMainForm::MoveToButtonClick() {
  const std::optional<int32_t> n = ui->MoveToSE->Commit();
  if (!n || !MotionIdle() || !PortReady()) return;
  if (RefuseOutsideLimits(*n)) return;
  SilenceVoice();
  NoteMoveTarget(*n);
  FocusControl->MoveTo(*n);
}

void TMainForm::CancelButtonClick() {
  if (FLogTarget) Log("Stop asked");
  SilenceVoice();
  FocusControl->CancelMovement();
}

void TMainForm::StopAllClick() {
  CancelButtonClick();
  // A coarse run ends as at its button's release.
  const bool stopped = FocusControl->StopCoarseRun();
  if (stopped || FConsole->Running()) {
    FHeldKey = 0;
    FHeldButton = nullptr;
    Focus_InBtnMouseUp(nullptr);
  }
}

void TMainForm::ShowStall(const QString& text) {
  if (!FocusControl) return;
  Log("Stall guard: " + text.toStdString());
  // The end of the move the guard stopped follows: it must not take the fault's place.
  FMoveTarget.reset();
  SetStatusNote(text);
  if (FConsole->Running()) {
    FHeldKey = 0;
    FHeldButton = nullptr;
    Focus_InBtnMouseUp(nullptr);
  }
  BusStateChanged();
}

void TMainForm::ResetButtonClick() {
  FocusControl->ResetCount();
  FMoveTarget.reset();  // a move going on now is counted from zero
  TrustPosition();
  if (VoiceSelection() != VoiceNone) {
    SilenceVoice();
    // The readout is spoken half a second after the reset, if no move runs then; the window
    // goes on meanwhile.
    QTimer::singleShot(500, this, [this] {
      if (FocusControl && MotionIdle()) SayReadout(100);
    });
  }
  Broadcast(mmPosition, FConsole->ShownPosition());
  Broadcast(mmCountReset, 0);
}

// The hidden "Say" test button: the voice speaks the typed text from the readout. Only the
// readout's face changes; the console's position stays the count.
void TMainForm::Button1Click() {
  ui->CTSLabel->SetCaption(ui->Edit1->text());
  SayReadout(500);
}

void TMainForm::FormKeyDown(int Key) {
  if (Key == Qt::Key_F1) {
    MorvaneHelp1Click();
  } else if (Key == Qt::Key_Escape) {
    // Escape stops a move as Stop does.
    if (!FConsole->ShownIdle()) CancelButtonClick();
  } else if (Key == Qt::Key_Return || Key == Qt::Key_Enter) {
    // Enter in Move By or Move To runs that move.
    QWidget* focus = QApplication::focusWidget();
    const auto in = [focus](QWidget* field) {
      return focus && (focus == field || field->isAncestorOf(focus));
    };
    if (in(ui->MoveBySE)) MoveByButtonClick();
    if (in(ui->MoveToSE)) MoveToButtonClick();
  } else if (Key == Qt::Key_I || Key == Qt::Key_O) {
    // A held key repeats its press: the run it started goes on untouched, and other programs
    // hear of one press.
    if (Key == FHeldKey) return;
    ui->MovingLite->SetLit(true);
    QAbstractButton* button = Key == Qt::Key_I ? ui->Focus_InBtn : ui->Focus_OutBtn;
    button->setDown(true);
    FHeldKey = Key;
    Focus_InBtnMouseDown(button);
  }
}

void TMainForm::FormKeyUp(int Key) {
  if (Key == Qt::Key_I || Key == Qt::Key_O) {
    if (Key == FHeldKey) FHeldKey = 0;
    QAbstractButton* button = Key == Qt::Key_I ? ui->Focus_InBtn : ui->Focus_OutBtn;
    button->setDown(false);
    Focus_InBtnMouseUp(button);
  }
}

bool TMainForm::IsPreviewedKey(QObject* watched) const {
  if (!watched->isWidgetType()) return false;
  auto* widget = static_cast<QWidget*>(watched);
  if (widget->window() != this) return false;
  // A key event travels from the focused control up through its parents; the window sees it
  // once, at its first delivery.
  QWidget* focus = QApplication::focusWidget();
  return widget == focus || (focus == nullptr && widget == this);
}

void TMainForm::PreviewKey(const QKeyEvent& key) {
  const bool coarseKey = key.key() == Qt::Key_I || key.key() == Qt::Key_O;
  if (key.type() == QEvent::KeyPress) {
    if (FPendingReleaseKey == key.key() && FPendingReleaseTime == key.timestamp()) {
      // The release held back and this press carry one time stamp: an auto-repeat pair whose
      // release the platform did not mark. The run goes on.
      FPendingReleaseKey = 0;
      FKeyReleaseTimer.stop();
    }
    FlushKeyRelease();
    FormKeyDown(key.key());
    return;
  }
  // X11 and Wayland repeat a held key as release-press pairs; only the real release ends the
  // run.
  if (key.isAutoRepeat()) return;
  FlushKeyRelease();
  if (!coarseKey) {
    FormKeyUp(key.key());
    return;
  }
  FPendingReleaseKey = key.key();
  FPendingReleaseTime = key.timestamp();
  FKeyReleaseTimer.start();
}

void TMainForm::FlushKeyRelease() {
  if (!FPendingReleaseKey) return;
  const int key = FPendingReleaseKey;
  FPendingReleaseKey = 0;
  FKeyReleaseTimer.stop();
  FormKeyUp(key);
}

void TMainForm::EndHeldRun() {
  FlushKeyRelease();
  if (FHeldKey) FormKeyUp(FHeldKey);
  if (QAbstractButton* button = std::exchange(FHeldButton, nullptr)) {
    button->setDown(false);
    Focus_InBtnMouseUp(button);
  }
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::WindowDeactivate:
    case QEvent::WindowBlocked:
      // Another window has the keyboard now and gets the key's release, or a message box (a
      // voice or port failure, say) blocks the window and Qt drops the button's release: the
      // motor would run on unattended.
      if (watched == this && FocusControl && (FHeldKey || FHeldButton))
        CallHandler([&] { EndHeldRun(); });
      break;
    case QEvent::Paint:
      if (FFormShowPending && watched->isWidgetType() &&
          static_cast<QWidget*>(watched)->window() == this) {
        // After this paint has reached the screen.
        QMetaObject::invokeMethod(this, &TMainForm::FinishFormShow, Qt::QueuedConnection);
      }
      break;
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
      if (!FocusControl || !IsPreviewedKey(watched)) break;
      CallHandler([&] { PreviewKey(*static_cast<QKeyEvent*>(event)); });
      break;  // the focused control gets the key afterwards
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseButtonRelease: {
      if (!FocusControl || (watched != ui->Focus_InBtn && watched != ui->Focus_OutBtn)) break;
      auto* button = static_cast<QAbstractButton*>(watched);
      if (event->type() == QEvent::MouseButtonRelease) {
        FHeldButton = nullptr;
        CallHandler([&] { Focus_InBtnMouseUp(button); });
      } else {
        FHeldButton = button;
        CallHandler([&] { Focus_InBtnMouseDown(button); });
      }
      break;
    }
    default:
      break;
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace morvane
