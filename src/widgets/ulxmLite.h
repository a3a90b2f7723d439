#pragma once

#include <QWidget>

#include "widgets/ulxmColor.h"
#include "widgets/ulxmEvents.h"

using TLiteChangeEvent = std::function<void(QObject* Sender, bool Lit)>;

// An LED-style light, lit or unlit, square or round.
class TlxmLite : public QWidget {
  Q_OBJECT
  Q_PROPERTY(bool Lit READ Lit WRITE SetLit)
  Q_PROPERTY(TColor OnColor READ OnColor WRITE SetOnColor)
  Q_PROPERTY(TColor OffColor READ OffColor WRITE SetOffColor)
  Q_PROPERTY(TLiteShape Shape READ Shape WRITE SetShape)

 public:
  enum TLiteShape { lsSquare, lsRound };
  Q_ENUM(TLiteShape)

  explicit TlxmLite(QWidget* Parent = nullptr);

  bool Lit() const { return FLit; }
  void SetLit(bool Value);
  TColor OnColor() const { return FOnColor; }
  virtual void SetOnColor(TColor Value);
  TColor OffColor() const { return FOffColor; }
  void SetOffColor(TColor Value);
  // The small highlight on a round light; white unless a dim look asks for less.
  TColor GlintColor() const { return FGlintColor; }
  void SetGlintColor(TColor Value);
  TLiteShape Shape() const { return FShape; }
  void SetShape(TLiteShape Value);

  const TLiteChangeEvent& OnChange() const { return FOnChange; }
  void SetOnChange(TLiteChangeEvent Value) { FOnChange = std::move(Value); }
  const TNotifyEvent& OnClick() const { return FOnClick; }
  void SetOnClick(TNotifyEvent Value) { FOnClick = std::move(Value); }

  QSize sizeHint() const override;

 protected:
  virtual void DoChange();
  virtual void Click();

  void paintEvent(QPaintEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;

 private:
  bool FLit = false;
  TColor FOnColor = clLime;
  TColor FOffColor = clDarkGreen;
  TColor FGlintColor = clWhite;
  TLiteShape FShape = lsRound;
  TLiteChangeEvent FOnChange;
  TNotifyEvent FOnClick;
};
