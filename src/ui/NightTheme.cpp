#include "ui/NightTheme.h"

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QStyleOption>

#include <algorithm>
#include <functional>

namespace morvane {

namespace {

QColor Red(int level) {
  return QColor(level, 0, 0);
}

// The base style outlines a field or an indicator in a shade of the window's colour, which at
// night is near black: the field would be a black hole and an unchecked box not seen at all.
// A copy of the option with a lighter window gives an outline as bright as a group's frame.
template <class Option>
bool DrawOutlined(const QStyleOption* option, const std::function<void(const Option&)>& draw) {
  const auto* typed = qstyleoption_cast<const Option*>(option);
  if (!typed) return false;
  Option lit(*typed);
  for (const QPalette::ColorGroup group :
       {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
    lit.palette.setColor(group, QPalette::Window, Red(70));
  draw(lit);
  return true;
}

}  // namespace

QPalette NightPalette() {
  QPalette p;
  const auto set = [&p](QPalette::ColorRole role, QColor active, QColor disabled) {
    p.setColor(QPalette::Active, role, active);
    p.setColor(QPalette::Inactive, role, active);
    p.setColor(QPalette::Disabled, role, disabled);
  };
  set(QPalette::Window, Red(14), Red(14));
  set(QPalette::Base, Red(0), Red(8));
  set(QPalette::AlternateBase, Red(10), Red(10));
  set(QPalette::Button, Red(30), Red(20));
  set(QPalette::WindowText, Red(180), Red(80));
  set(QPalette::Text, Red(180), Red(80));
  set(QPalette::ButtonText, Red(180), Red(80));
  set(QPalette::BrightText, Red(210), Red(90));
  set(QPalette::PlaceholderText, Red(90), Red(60));
  set(QPalette::Light, Red(60), Red(40));
  set(QPalette::Midlight, Red(45), Red(30));
  set(QPalette::Mid, Red(30), Red(20));
  set(QPalette::Dark, Red(20), Red(14));
  set(QPalette::Shadow, Red(0), Red(0));
  set(QPalette::Highlight, Red(90), Red(40));
  set(QPalette::HighlightedText, Red(220), Red(90));
  set(QPalette::ToolTipBase, Red(20), Red(20));
  set(QPalette::ToolTipText, Red(180), Red(80));
  set(QPalette::Link, Red(200), Red(90));
  set(QPalette::LinkVisited, Red(150), Red(80));
  return p;
}

QImage NightTint(const QImage& image) {
  QImage out = image.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < out.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < out.width(); ++x) {
      const QRgb c = line[x];
      const int level = std::max({qRed(c), qGreen(c), qBlue(c)}) * 3 / 4;
      line[x] = qRgba(level, 0, 0, qAlpha(c));
    }
  }
  return out;
}

TNightStyle::TNightStyle(QStyle* base) : QProxyStyle(base) {}

QIcon TNightStyle::standardIcon(StandardPixmap standardIcon, const QStyleOption* option,
                                const QWidget* widget) const {
  const QIcon day = QProxyStyle::standardIcon(standardIcon, option, widget);
  QIcon night;
  QList<QSize> sizes = day.availableSizes();
  if (sizes.isEmpty()) sizes = {QSize(16, 16), QSize(32, 32), QSize(64, 64)};
  for (const QSize& size : sizes)
    night.addPixmap(QPixmap::fromImage(NightTint(day.pixmap(size).toImage())));
  return night;
}

QPixmap TNightStyle::standardPixmap(StandardPixmap standardPixmap, const QStyleOption* option,
                                    const QWidget* widget) const {
  return QPixmap::fromImage(
      NightTint(QProxyStyle::standardPixmap(standardPixmap, option, widget).toImage()));
}

void TNightStyle::polish(QPalette& palette) {
  palette = NightPalette();
}

int TNightStyle::pixelMetric(PixelMetric metric, const QStyleOption* option,
                             const QWidget* widget) const {
  if (metric == PM_TextCursorWidth) return 0;
  return QProxyStyle::pixelMetric(metric, option, widget);
}

void TNightStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                QPainter* painter, const QWidget* widget) const {
  const auto base = [&](const QStyleOption& o) {
    QProxyStyle::drawPrimitive(element, &o, painter, widget);
  };
  if ((element == PE_IndicatorCheckBox || element == PE_IndicatorRadioButton) &&
      DrawOutlined<QStyleOptionButton>(option, base))
    return;
  if ((element == PE_PanelLineEdit || element == PE_FrameLineEdit) &&
      DrawOutlined<QStyleOptionFrame>(option, base))
    return;
  QProxyStyle::drawPrimitive(element, option, painter, widget);
}

void TNightStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                     QPainter* painter, const QWidget* widget) const {
  if (control == CC_SpinBox &&
      DrawOutlined<QStyleOptionSpinBox>(option, [&](const QStyleOptionSpinBox& o) {
        QProxyStyle::drawComplexControl(control, &o, painter, widget);
      }))
    return;
  QProxyStyle::drawComplexControl(control, option, painter, widget);
}

}  // namespace morvane
