// "Set Position...": the user tells Morvane where the focuser is (read off a scale, or known
// from another program) and the count takes it without a move.

#include <QInputDialog>

#include "platform/BusContract.h"
#include "ui/MainFormBus.h"
#include "ui/fMorvane.h"

namespace morvane {

QString TMainForm::SyncCount(int32_t count) {
  if (!FocusControl->SyncCount(count))
    return QStringLiteral("Position not set: a move or a run is under way; Stop it first");
  FMoveTarget.reset();
  TrustPosition();
  SetStatusNote(QStringLiteral("Position set to %1").arg(count));
  Broadcast(mmPosition, count);
  BusStateChanged();
  return {};
}

void TMainForm::SetPosition1Click() {
  bool ok = false;
  const int count = QInputDialog::getInt(
      this, QStringLiteral("Set Position"),
      QStringLiteral("The focuser is at count (%1 to %2); nothing moves:")
          .arg(-MoveLimit)
          .arg(MoveLimit),
      FocusControl->CTSCount(), static_cast<int>(-MoveLimit), static_cast<int>(MoveLimit), 1, &ok);
  if (!ok) return;
  const QString refused = SyncCount(count);
  if (!refused.isEmpty()) SetStatusNote(refused);
}

std::string TMainFormConsole::SyncCount(int32_t count) {
  return Form.SyncCount(count).toStdString();
}

}  // namespace morvane
