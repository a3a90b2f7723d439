#include "ui/bus/TakeOver.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>

#include "platform/BusContract.h"

namespace morvane {

TStartAction FirstStartAction(bool headless, bool nameOwned) {
  if (!nameOwned) return TStartAction::saStart;
  return headless ? TStartAction::saEnd : TStartAction::saAskHandOver;
}

TTakeOver TakeOverRunningCopy(bool headless, int deadlineMs) {
  TTakeOver result;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return result;  // the window says so once it is up
  const QString name = QString::fromLatin1(MorvaneBusName);
  QDBusConnectionInterface* names = bus.interface();
  // The running copy's own connection: it goes from the bus only when that process ends,
  // after its port has been closed, where the well-known name may go a little sooner.
  const QString owner = names->serviceOwner(name).value();
  switch (FirstStartAction(headless, !owner.isEmpty())) {
    case TStartAction::saStart:
      return result;
    case TStartAction::saEnd:
      result.Start = false;
      result.Message = QStringLiteral(
          "Morvane is already running on this session and drives the focuser; this copy ends");
      return result;
    case TStartAction::saAskHandOver:
      break;
  }
  QElapsedTimer since;
  since.start();
  QEventLoop loop;
  QDBusServiceWatcher gone(owner, bus, QDBusServiceWatcher::WatchForUnregistration);
  QObject::connect(&gone, &QDBusServiceWatcher::serviceUnregistered, &loop, &QEventLoop::quit);
  QDBusMessage ask = QDBusMessage::createMethodCall(owner, QString::fromLatin1(MorvaneObjectPath),
                                                    QString::fromLatin1(Focuser1Interface),
                                                    QStringLiteral("HandOver"));
  const QDBusReply<bool> reply = bus.call(ask, QDBus::Block, deadlineMs);
  if (!reply.isValid()) {
    if (!names->isServiceRegistered(owner).value()) return result;  // ended meanwhile
    result.Start = false;
    result.Message =
        QStringLiteral("Morvane is already running on this session and did not hand over (%1)")
            .arg(reply.error().message());
    return result;
  }
  if (!reply.value()) {
    result.Start = false;
    result.Message = QStringLiteral(
        "Morvane is already running with a window on this session; it has been brought to the "
        "front");
    return result;
  }
  if (names->isServiceRegistered(owner).value()) {
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(std::max(0, deadlineMs - static_cast<int>(since.elapsed())));
    loop.exec();
  }
  result.WaitedMs = static_cast<int>(since.elapsed());
  if (names->isServiceRegistered(owner).value()) {
    result.Start = false;
    result.Message =
        QStringLiteral("the Morvane running without a window did not close within %1 s")
            .arg(deadlineMs / 1000);
    return result;
  }
  result.Message = QStringLiteral("took over from the Morvane running without a window (%1 ms)")
                       .arg(result.WaitedMs);
  return result;
}

}  // namespace morvane
