#pragma once

#include <QImage>
#include <QPointer>
#include <QString>
#include <QWidget>

#include "widgets/ulxmColor.h"
#include "widgets/ulxmEvents.h"

// Room for the caption when it is drawn, its terminating zero included.
inline constexpr int LabelCaptionBufferSize = 80;

// The part of Caption that is drawn: at most LabelCaptionBufferSize − 1 characters, never half of
// a surrogate pair.
QString DrawnCaption(const QString& Caption);

// A one-line label that paints background, optional one-pixel frame and caption on an image of
// its own and then copies that to the screen in one step, so a fast-changing readout never
// flickers. The caption's colour is the palette's window text.
class TlxmLbl : public QWidget {
  Q_OBJECT
  Q_PROPERTY(bool LineBorder READ LineBorder WRITE SetLineBorder)
  Q_PROPERTY(TAlignment Alignment READ Alignment WRITE SetAlignment)
  Q_PROPERTY(bool AutoSize READ AutoSize WRITE SetAutoSize)
  Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
  Q_PROPERTY(TColor Color READ Color WRITE SetColor)
  Q_PROPERTY(bool ParentColor READ ParentColor WRITE SetParentColor)
  Q_PROPERTY(bool ShowAccelChar READ ShowAccelChar WRITE SetShowAccelChar)
  Q_PROPERTY(bool Transparent READ Transparent WRITE SetTransparent)
  Q_PROPERTY(bool WordWrap READ WordWrap WRITE SetWordWrap)

 public:
  enum TAlignment { taLeftJustify, taRightJustify, taCenter };
  Q_ENUM(TAlignment)

  explicit TlxmLbl(QWidget* Parent = nullptr);

  bool LineBorder() const { return FLineBorder; }
  void SetLineBorder(bool Value);
  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment Value);
  // While set, a label outside any layout takes the size of its caption.
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool Value);
  const QString& Caption() const { return FCaption; }
  void SetCaption(const QString& Value);
  // Setting Color clears ParentColor; while ParentColor is set the parent's window colour is used.
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  bool ParentColor() const { return FParentColor; }
  void SetParentColor(bool Value);
  bool ShowAccelChar() const { return FShowAccelChar; }
  void SetShowAccelChar(bool Value);
  // While set, only the caption is drawn and what lies beneath the label shows through.
  bool Transparent() const { return FTransparent; }
  void SetTransparent(bool Value);
  // Kept for forms that set it; the caption is always one line.
  bool WordWrap() const { return FWordWrap; }
  void SetWordWrap(bool Value) { FWordWrap = Value; }
  // The control that the caption's access key focuses.
  QWidget* FocusControl() const { return FFocusControl; }
  void SetFocusControl(QWidget* Value);

  const TNotifyEvent& OnClick() const { return FOnClick; }
  void SetOnClick(TNotifyEvent Value) { FOnClick = std::move(Value); }
  const TNotifyEvent& OnDblClick() const { return FOnDblClick; }
  void SetOnDblClick(TNotifyEvent Value) { FOnDblClick = std::move(Value); }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  virtual void Click();
  virtual void DblClick();

  bool event(QEvent* Event) override;
  void changeEvent(QEvent* Event) override;
  void paintEvent(QPaintEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void mouseDoubleClickEvent(QMouseEvent* Event) override;

 private:
  int TextFlags() const;
  void AdjustBounds();
  void UpdateAccelKey();

  bool FLineBorder = true;
  TAlignment FAlignment = taLeftJustify;
  bool FAutoSize = true;
  QString FCaption;
  TColor FColor = clBtnFace;
  bool FParentColor = true;
  bool FShowAccelChar = true;
  bool FTransparent = false;
  bool FWordWrap = false;
  QPointer<QWidget> FFocusControl;
  int FAccelKeyId = 0;
  TNotifyEvent FOnClick;
  TNotifyEvent FOnDblClick;

  QImage Image;
};
