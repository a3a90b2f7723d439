#include "widgets/ulxmLiteFP.h"

TlxmLiteFP::TlxmLiteFP(QWidget* Parent)
    : TlxmLite(Parent), SavedOnColor(OnColor()), LastLit(Lit()) {
  FlashTimer.setInterval(FDuration);
  connect(&FlashTimer, &QTimer::timeout, this, &TlxmLiteFP::FlashTimerTimer);
}

void TlxmLiteFP::SetDuration(int Value) {
  if (Value == FDuration) return;
  FDuration = Value;
  if (FDuration > 0) {
    FlashTimer.setInterval(FDuration);
  } else {
    // A zero interval would fire on every pass of the event loop.
    FlashTimer.stop();
  }
}

void TlxmLiteFP::SetFlashType(TFlashType Value) {
  if (Value == FFlashType) return;
  if (Value == ftPulse) LastLit = Lit();
  FFlashType = Value;
  ShowOnColor(SavedOnColor);
  update();
}

void TlxmLiteFP::SetOnFlashColor(TColor Value) {
  if (Value == FOnFlashColor) return;
  FOnFlashColor = Value;
  update();
}

void TlxmLiteFP::SetOnColor(TColor Value) {
  SavedOnColor = Value;
  TlxmLite::SetOnColor(Value);
}

void TlxmLiteFP::DoFlash() {
  if (FOnFlash) FOnFlash(this, Lit() && !FlashPhase);
}

void TlxmLiteFP::DoChange() {
  // A change made from outside starts a pulse; the change the tick makes ends it.
  if (FFlashType == ftPulse && Lit() != LastLit) {
    LastLit = Lit();
    Pulsing = !Pulsing;
    if (Pulsing) StartFlashTimer();
  }
  TlxmLite::DoChange();
}

void TlxmLiteFP::paintEvent(QPaintEvent* Event) {
  switch (FFlashType) {
    case ftNone:
    case ftPulse:
      break;
    case ftFlash:
      if (Lit()) {
        StartFlashTimer();
        ShowOnColor(FlashPhase ? OffColor() : FOnFlashColor);
        DoFlash();
      } else {
        FlashTimer.stop();
        FlashPhase = false;
        DoFlash();
        ShowOnColor(SavedOnColor);
      }
      break;
  }
  TlxmLite::paintEvent(Event);
}

void TlxmLiteFP::FlashTimerTimer() {
  switch (FFlashType) {
    case ftPulse:
      FlashTimer.stop();
      SetLit(!Lit());
      break;
    case ftFlash:
      FlashPhase = !FlashPhase;
      repaint();
      break;
    case ftNone:
      // Left running, a tick would later act on a mode chosen after it was started.
      FlashTimer.stop();
      break;
  }
}

void TlxmLiteFP::StartFlashTimer() {
  // Starting a running timer must not push its next tick back.
  if (FDuration > 0 && !FlashTimer.isActive()) FlashTimer.start();
}
