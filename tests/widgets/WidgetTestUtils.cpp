#include "widgets/WidgetTestUtils.h"

#include <QCoreApplication>
#include <QTest>
#include <QTimer>

bool WaitFor(const std::function<bool()>& Condition, int TimeoutMs) {
  return QTest::qWaitFor(Condition, TimeoutMs);
}

void SettlePaints() {
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
}

bool RunTimerPeriods(int IntervalMs, int Periods) {
  QTimer Witness;
  int Fired = 0;
  QObject::connect(&Witness, &QTimer::timeout, [&] { ++Fired; });
  Witness.start(IntervalMs);
  // The deadline only bounds a failure: a busy machine may fire a timer late.
  return QTest::qWaitFor([&] { return Fired >= Periods; }, 5000 + IntervalMs * Periods);
}
