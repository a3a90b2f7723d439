#include "widgets/ulxmLite.h"

#include <QMouseEvent>
#include <QPainter>

#include "widgets/ulxmGeometry.h"

namespace {

constexpr int NewLiteSize = 18;

QRect RowRect(const TEllipseRow& Row) {
  return QRect(Row.Left, Row.Y, Row.Right - Row.Left, 1);
}

}  // namespace

TlxmLite::TlxmLite(QWidget* Parent) : QWidget(Parent) {
  resize(NewLiteSize, NewLiteSize);
}

void TlxmLite::SetLit(bool Value) {
  if (Value == FLit) return;
  FLit = Value;
  update();
  DoChange();
}

void TlxmLite::SetOnColor(TColor Value) {
  if (Value == FOnColor) return;
  FOnColor = Value;
  update();
}

void TlxmLite::SetOffColor(TColor Value) {
  if (Value == FOffColor) return;
  FOffColor = Value;
  update();
}

void TlxmLite::SetShape(TLiteShape Value) {
  if (Value == FShape) return;
  FShape = Value;
  update();
}

QSize TlxmLite::sizeHint() const {
  return QSize(NewLiteSize, NewLiteSize);
}

void TlxmLite::DoChange() {
  if (FOnChange) FOnChange(this, FLit);
}

void TlxmLite::SetGlintColor(TColor Value) {
  if (Value == FGlintColor) return;
  FGlintColor = Value;
  update();
}

void TlxmLite::Click() {
  if (FOnClick) FOnClick(this);
}

void TlxmLite::paintEvent(QPaintEvent* /*Event*/) {
  QPainter Painter(this);
  const QColor Fill = ColorToQColor(FLit ? FOnColor : FOffColor, palette());

  if (FShape == lsSquare) {
    const TLiteRect Square = SquareLiteRect(width(), height());
    if (Square.IsEmpty()) return;
    Painter.fillRect(ToQRect(Square), Fill);
    const QColor Highlight = ColorToQColor(clBtnHighlight, palette());
    const QColor Shadow = ColorToQColor(cl3DDkShadow, palette());
    // Each bevel line is one pixel wide, so it is filled as a thin rectangle: exact at any scale.
    for (const TLiteLine& Line : SquareLiteBevel(Square)) {
      const TLiteRect Pixels = LinePixels(Line);
      if (Pixels.IsEmpty()) continue;
      Painter.fillRect(ToQRect(Pixels), Line.Tone == TBevelTone::Highlight ? Highlight : Shadow);
    }
    return;
  }

  // Circle and glint are set pixel by pixel: the painter's aliased ellipses are lopsided.
  const TLiteRect Box = RoundLiteRect(width(), height());
  const std::vector<TEllipseRow> Circle = EllipseRows(Box);
  for (const TEllipseRow& Row : Circle) Painter.fillRect(RowRect(Row), Fill);
  for (const TLiteRect& Run : EllipseOutline(Circle))
    Painter.fillRect(ToQRect(Run), ColorToQColor(clBlack));
  for (const TEllipseRow& Row : EllipseRows(RoundLiteGlint(Box.Right - Box.Left)))
    Painter.fillRect(RowRect(Row), ColorToQColor(FGlintColor));
}

void TlxmLite::mouseReleaseEvent(QMouseEvent* Event) {
  QWidget::mouseReleaseEvent(Event);
  if (Event->button() == Qt::LeftButton && rect().contains(Event->position().toPoint())) Click();
}
