#pragma once

#include <QColor>
#include <QImage>
#include <QPalette>
#include <QWidget>

#include <functional>

// A parent of a known, plain background, so that what a widget leaves unpainted can be seen.
class TBackdrop : public QWidget {
 public:
  static inline const QColor BackdropColor{255, 0, 255};
  static inline const QColor HighlightColor{250, 250, 250};
  static inline const QColor ShadowColor{10, 10, 10};

  explicit TBackdrop(int Width = 60, int Height = 40) {
    QPalette Palette = palette();
    Palette.setColor(QPalette::Window, BackdropColor);
    Palette.setColor(QPalette::Light, HighlightColor);
    Palette.setColor(QPalette::Shadow, ShadowColor);
    Palette.setColor(QPalette::WindowText, Qt::black);
    setPalette(Palette);
    setAutoFillBackground(true);
    resize(Width, Height);
  }

  QImage Grab() { return grab().toImage(); }
};

// The lamps' lit and unlit green.
inline const QColor Lime(0, 255, 0);
inline const QColor DarkGreen(0, 87, 0);

inline QColor PixelAt(const QImage& Image, int X, int Y) {
  return Image.pixelColor(X, Y);
}

// Runs the event loop until Condition holds or TimeoutMs passes; returns Condition's last value.
bool WaitFor(const std::function<bool()>& Condition, int TimeoutMs = 3000);

// Delivers the events already posted, a repaint asked for among them: what is pending happens.
void SettlePaints();

// Runs the event loop until a timer started now with IntervalMs has fired Periods times: a
// widget's timer of that interval, started before it, had at least as many chances to fire.
bool RunTimerPeriods(int IntervalMs, int Periods);
