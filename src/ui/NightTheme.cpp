#include "ui/NightTheme.h"

#include <QIcon>
#include <QImage>
#include <QPixmap>

#include <algorithm>

namespace morvane {

namespace {

QColor Red(int level) {
  return QColor(level, 0, 0);
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

}  // namespace morvane
