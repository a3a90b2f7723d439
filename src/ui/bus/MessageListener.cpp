#include "ui/bus/MessageListener.h"

#include <QDBusConnection>
#include <QString>

#include "platform/Broadcast.h"

namespace morvane {

namespace {
const QString MessageName = QStringLiteral("MORVANE_MESSAGE");
}

void HandleMorvaneMessage(TConsoleActions& console, int32_t wParam, int32_t lParam) {
  switch (wParam) {
    case 1:
      console.Broadcast(2, console.ReadoutValue());
      break;
    case 3:
      // A count the motion code cannot hold would wrap round into a runaway move.
      if (MoveTargetInRange(lParam)) console.MessageMoveTo(lParam);
      break;
    case 4:
      if (MoveTargetInRange(int64_t{console.ReadoutValue()} + lParam))
        console.MessageMoveBy(lParam);
      break;
    case 5:
      console.Broadcast(6, console.Idle() ? 1 : 0);
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
      bus.isConnected() && bus.connect(QString(), QString::fromLatin1(BroadcastPath),
                                       QString::fromLatin1(BroadcastInterface), MessageName,
                                       QStringLiteral("ii"), this, SLOT(MorvaneMessage(int, int)));
}

TMessageListener::~TMessageListener() {
  if (!FListening) return;
  QDBusConnection::sessionBus().disconnect(
      QString(), QString::fromLatin1(BroadcastPath), QString::fromLatin1(BroadcastInterface),
      MessageName, QStringLiteral("ii"), this, SLOT(MorvaneMessage(int, int)));
}

void TMessageListener::MorvaneMessage(int wParam, int lParam) {
  if (FHandler) FHandler(wParam, lParam);
}

}  // namespace morvane
