#include "ui/ToolTipTime.h"

#include <QApplication>
#include <QHelpEvent>
#include <QPointer>
#include <QToolTip>
#include <QWidget>

namespace morvane {

namespace {

class TToolTipTime : public QObject {
 public:
  explicit TToolTipTime(QObject* parent) : QObject(parent) {}
  int ShowMs = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::ToolTip || !watched->isWidgetType()) return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (widget->toolTip().isEmpty()) return false;  // let it travel on to a parent's hint
    const auto* help = static_cast<QHelpEvent*>(event);
    QToolTip::showText(help->globalPos(), widget->toolTip(), widget, {}, ShowMs);
    return true;
  }
};

}  // namespace

void InstallToolTipTime(int showMs) {
  // One filter per application object; a test program makes several windows on one.
  static QPointer<TToolTipTime> filter;
  if (!filter) {
    filter = new TToolTipTime(qApp);  // owned by the application
    qApp->installEventFilter(filter);
  }
  filter->ShowMs = showMs;
}

}  // namespace morvane
