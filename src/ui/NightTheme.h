#pragma once
// Night vision: the whole program red on black, dim enough to keep an observer's dark
// adaptation. The palette and a style that tints every standard icon (the coarse buttons'
// arrows, the message boxes' icons) reach the main window, its dialogs and its message boxes
// alike.

#include <QPalette>
#include <QProxyStyle>

namespace morvane {

QPalette NightPalette();

// Draws as the style it wraps, with each standard icon's brightness in red.
class TNightStyle : public QProxyStyle {
 public:
  explicit TNightStyle(QStyle* base);
  QIcon standardIcon(StandardPixmap standardIcon, const QStyleOption* option = nullptr,
                     const QWidget* widget = nullptr) const override;
  QPixmap standardPixmap(StandardPixmap standardPixmap, const QStyleOption* option = nullptr,
                         const QWidget* widget = nullptr) const override;
  void polish(QPalette& palette) override;
  // No text caret: the raster engine draws it by inverting the field, white on black.
  int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                  const QWidget* widget = nullptr) const override;
  // Check boxes, radio buttons, text and number fields outlined as the group frames are.
  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
  void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                          QPainter* painter, const QWidget* widget = nullptr) const override;
};

// A picture's brightness in red on its own transparency.
QImage NightTint(const QImage& image);

}  // namespace morvane
