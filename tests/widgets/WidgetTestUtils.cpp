#include "widgets/WidgetTestUtils.h"

#include <QTest>

bool WaitFor(const std::function<bool()>& Condition, int TimeoutMs) {
  return QTest::qWaitFor(Condition, TimeoutMs);
}
