#include "ui/bus/BusLossWatch.h"

#include <QDBusConnection>

#include <utility>

namespace morvane {

TBusLossWatch::TBusLossWatch(std::function<void()> onLost, QObject* parent)
    : QObject(parent), FOnLost(std::move(onLost)) {
  // A program started without a bus has nothing to lose: only a connection that was up and
  // then went down is told.
  FWasConnected = QDBusConnection::sessionBus().isConnected();
  if (!FWasConnected) return;
  connect(&FTimer, &QTimer::timeout, this, &TBusLossWatch::Poll);
  FTimer.start(PollMs);
}

void TBusLossWatch::Poll() {
  if (QDBusConnection::sessionBus().isConnected()) return;
  FTimer.stop();
  if (FOnLost) FOnLost();
}

}  // namespace morvane
