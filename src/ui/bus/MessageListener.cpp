#include "ui/bus/MessageListener.h"

#include <QDBusConnection>
#include <QString>

#include "platform/Broadcast.h"
#include "platform/BusContract.h"

namespace morvane {

namespace {
const QString MessageName = QString::fromLatin1(MorvaneMessageName);
}

void HandleMorvaneMessage(TConsoleActions& console, int32_t wParam, int32_t lParam) {
  switch (wParam) {
    case mmReportPosition:
      console.Broadcast(mmPosition, console.ShownPosition());
      break;
    case mmMoveTo:
      // A count the motion code cannot hold would wrap round into a runaway move.
      if (MoveTargetInRange(lParam)) console.MessageMoveTo(lParam);
      break;
    case mmMoveBy:
      if (MoveTargetInRange(int64_t{console.ShownPosition()} + lParam))
        console.MessageMoveBy(lParam);
      break;
    case mmReportIdle:
      console.Broadcast(mmIdle, console.Idle() ? 1 : 0);
      break;
    default:
      break;
  }
}

TMessageListener::TMessageListener(THandler handler, QObject* parent)
    : QObject(parent), FHandler(std::move(handler)) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  // The signature picks out (int32, int32): a signal with other arguments is not delivered.
  // The string-based slot is what QtDBus's connect takes.
  FListening =
      bus.isConnected() && bus.connect(QString(), QString::fromLatin1(MorvaneObjectPath),
                                       QString::fromLatin1(BroadcastInterface), MessageName,
                                       QStringLiteral("ii"), this, SLOT(MorvaneMessage(int, int)));
}

TMessageListener::~TMessageListener() {
  if (!FListening) return;
  QDBusConnection::sessionBus().disconnect(
      QString(), QString::fromLatin1(MorvaneObjectPath), QString::fromLatin1(BroadcastInterface),
      MessageName, QStringLiteral("ii"), this, SLOT(MorvaneMessage(int, int)));
}

void TMessageListener::MorvaneMessage(int wParam, int lParam) {
  if (FHandler) FHandler(wParam, lParam);
}

}  // namespace morvane
