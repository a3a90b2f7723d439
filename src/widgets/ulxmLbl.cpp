#include "widgets/ulxmLbl.h"

#include <algorithm>

#include <QKeySequence>
#include <QLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcutEvent>

#include "widgets/ulxmGeometry.h"

QString DrawnCaption(const QString& Caption) {
  constexpr int MaxChars = LabelCaptionBufferSize - 1;
  if (Caption.size() <= MaxChars) return Caption;
  int Length = MaxChars;
  if (Caption.at(Length - 1).isHighSurrogate()) --Length;
  return Caption.left(Length);
}

TlxmLbl::TlxmLbl(QWidget* Parent) : QWidget(Parent) {
  // The whole area is painted from the image, so Qt need not clear it first.
  setAttribute(Qt::WA_OpaquePaintEvent, true);
}

void TlxmLbl::SetLineBorder(bool Value) {
  if (Value == FLineBorder) return;
  FLineBorder = Value;
  update();
}

void TlxmLbl::SetAlignment(TAlignment Value) {
  if (Value == FAlignment) return;
  FAlignment = Value;
  update();
}

void TlxmLbl::SetAutoSize(bool Value) {
  if (Value == FAutoSize) return;
  FAutoSize = Value;
  AdjustBounds();
}

void TlxmLbl::SetCaption(const QString& Value) {
  if (Value == FCaption) return;
  FCaption = Value;
  UpdateAccelKey();
  AdjustBounds();
  update();
}

void TlxmLbl::SetColor(TColor Value) {
  if (Value == FColor && !FParentColor) return;
  FColor = Value;
  FParentColor = false;
  update();
}

void TlxmLbl::SetParentColor(bool Value) {
  if (Value == FParentColor) return;
  FParentColor = Value;
  update();
}

void TlxmLbl::SetShowAccelChar(bool Value) {
  if (Value == FShowAccelChar) return;
  FShowAccelChar = Value;
  UpdateAccelKey();
  AdjustBounds();
  update();
}

void TlxmLbl::SetTransparent(bool Value) {
  if (Value == FTransparent) return;
  FTransparent = Value;
  setAttribute(Qt::WA_OpaquePaintEvent, !FTransparent);
  update();
}

void TlxmLbl::SetFocusControl(QWidget* Value) {
  if (Value == FFocusControl) return;
  FFocusControl = Value;
  UpdateAccelKey();
}

QSize TlxmLbl::sizeHint() const {
  const QFontMetrics Metrics = fontMetrics();
  const QSize Text = Metrics.size(TextFlags(), DrawnCaption(FCaption));
  // Room for the insets around the caption.
  return QSize(Text.width() + 3, std::max(Text.height(), Metrics.height()) + 3);
}

void TlxmLbl::Click() {
  if (FOnClick) FOnClick(this);
}

void TlxmLbl::DblClick() {
  if (FOnDblClick) FOnDblClick(this);
}

bool TlxmLbl::event(QEvent* Event) {
  if (Event->type() == QEvent::Shortcut &&
      static_cast<QShortcutEvent*>(Event)->shortcutId() == FAccelKeyId) {
    if (FFocusControl) FFocusControl->setFocus(Qt::ShortcutFocusReason);
    return true;
  }
  return QWidget::event(Event);
}

void TlxmLbl::changeEvent(QEvent* Event) {
  QWidget::changeEvent(Event);
  if (Event->type() == QEvent::FontChange) AdjustBounds();
}

void TlxmLbl::paintEvent(QPaintEvent* /*Event*/) {
  const qreal Ratio = devicePixelRatioF();
  const QSize Pixels = size() * Ratio;
  if (Pixels.isEmpty()) return;
  if (Image.size() != Pixels) Image = QImage(Pixels, QImage::Format_ARGB32_Premultiplied);
  Image.setDevicePixelRatio(Ratio);

  const QRect Client = rect();
  {
    QPainter Painter(&Image);
    if (FTransparent) {
      // Cleared rather than kept, or the last caption would show through the new one.
      Painter.setCompositionMode(QPainter::CompositionMode_Source);
      Painter.fillRect(Client, Qt::transparent);
      Painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    } else {
      const QColor Background =
          FParentColor ? palette().color(QPalette::Window) : ColorToQColor(FColor, palette());
      Painter.fillRect(Client, Background);
      if (FLineBorder) {
        const QColor Frame = ColorToQColor(clBlack);
        const int W = Client.width();
        const int H = Client.height();
        Painter.fillRect(0, 0, W, 1, Frame);
        Painter.fillRect(0, H - 1, W, 1, Frame);
        Painter.fillRect(0, 0, 1, H, Frame);
        Painter.fillRect(W - 1, 0, 1, H, Frame);
      }
    }
    Painter.setFont(font());
    Painter.setPen(isEnabled() ? palette().color(QPalette::WindowText)
                               : ColorToQColor(clGrayText, palette()));
    Painter.drawText(LabelTextRect(Client.width(), Client.height()), TextFlags(),
                     DrawnCaption(FCaption));
  }
  QPainter(this).drawImage(0, 0, Image);
}

void TlxmLbl::mouseReleaseEvent(QMouseEvent* Event) {
  QWidget::mouseReleaseEvent(Event);
  if (Event->button() == Qt::LeftButton && rect().contains(Event->position().toPoint())) Click();
}

void TlxmLbl::mouseDoubleClickEvent(QMouseEvent* Event) {
  QWidget::mouseDoubleClickEvent(Event);
  if (Event->button() == Qt::LeftButton) DblClick();
}

int TlxmLbl::TextFlags() const {
  int Flags = Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextExpandTabs;
  switch (FAlignment) {
    case taLeftJustify:
      Flags |= Qt::AlignLeft;
      break;
    case taRightJustify:
      Flags |= Qt::AlignRight;
      break;
    case taCenter:
      Flags |= Qt::AlignHCenter;
      break;
  }
  if (FShowAccelChar) Flags |= Qt::TextShowMnemonic;
  return Flags;
}

void TlxmLbl::AdjustBounds() {
  updateGeometry();
  // A layout, where there is one, decides the size from sizeHint.
  if (!FAutoSize || (parentWidget() != nullptr && parentWidget()->layout() != nullptr)) return;
  const QSize Hint = sizeHint();
  const int Left = FAlignment == taRightJustify ? x() + width() - Hint.width() : x();
  setGeometry(Left, y(), Hint.width(), Hint.height());
}

void TlxmLbl::UpdateAccelKey() {
  if (FAccelKeyId != 0) {
    releaseShortcut(FAccelKeyId);
    FAccelKeyId = 0;
  }
  if (!FShowAccelChar || !FFocusControl) return;
  const QKeySequence Key = QKeySequence::mnemonic(DrawnCaption(FCaption));
  if (!Key.isEmpty()) FAccelKeyId = grabShortcut(Key);
}
