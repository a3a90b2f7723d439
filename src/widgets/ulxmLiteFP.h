#pragma once

#include <QTimer>

#include "widgets/ulxmLite.h"

using TLiteFlashEvent = std::function<void(QObject* Sender, bool LiteOn)>;

// A light that, while lit, can give one timed pulse per change of Lit or flash.
class TlxmLiteFP : public TlxmLite {
  Q_OBJECT
  Q_PROPERTY(int Duration READ Duration WRITE SetDuration)
  Q_PROPERTY(TFlashType FlashType READ FlashType WRITE SetFlashType)
  Q_PROPERTY(TColor OnFlashColor READ OnFlashColor WRITE SetOnFlashColor)

 public:
  enum TFlashType { ftNone, ftPulse, ftFlash };
  Q_ENUM(TFlashType)

  explicit TlxmLiteFP(QWidget* Parent = nullptr);

  // Milliseconds; zero or less stops the timer from ever firing.
  int Duration() const { return FDuration; }
  void SetDuration(int Value);
  TFlashType FlashType() const { return FFlashType; }
  void SetFlashType(TFlashType Value);
  TColor OnFlashColor() const { return FOnFlashColor; }
  void SetOnFlashColor(TColor Value);
  // Also remembered as the colour to put back when flashing ends.
  void SetOnColor(TColor Value) override;

  const TLiteFlashEvent& OnFlash() const { return FOnFlash; }
  void SetOnFlash(TLiteFlashEvent Value) { FOnFlash = std::move(Value); }

 protected:
  virtual void DoFlash();
  // In pulse mode every change of Lit starts or ends a pulse here, whether or not it is ever
  // painted: changes coming back to back between two paints would otherwise be lost, and the
  // light would stay lit.
  void DoChange() override;

  void paintEvent(QPaintEvent* Event) override;

 private:
  void FlashTimerTimer();
  void StartFlashTimer();
  // Changes the shown on-colour without touching SavedOnColor.
  void ShowOnColor(TColor Value) { TlxmLite::SetOnColor(Value); }

  QTimer FlashTimer;
  int FDuration = 500;
  TFlashType FFlashType = ftNone;
  TColor FOnFlashColor = clYellow;
  TLiteFlashEvent FOnFlash;

  TColor SavedOnColor;
  // Lit as the pulse logic last saw it.
  bool LastLit;
  bool Pulsing = false;
  bool FlashPhase = false;
};
