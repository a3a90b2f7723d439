// The count kept across starts: restored when the port has opened at start, written when a
// move or a run has ended and at a clean exit. A count restored after no clean exit is shown
// as unverified until the user sets the position or resets it: the focuser may have been
// moved meanwhile, and a client that trusted it would drive the wrong distance.

#include <QTimer>

#include "platform/Signals.h"
#include "settings/KeptPosition.h"
#include "ui/MainFormBus.h"
#include "ui/fMorvane.h"

namespace morvane {

void TMainForm::RestoreKeptPosition() {
  FKeepPosition = ReadKeepPosition(FIniPath);
  if (!FKeepPosition || !FocusControl) return;
  TKeptPosition kept;
  const TKeptState state = ReadKeptPosition(KeptPositionPathFor(FIniPath), kept);
  switch (state) {
    case TKeptState::ksNone:
      break;
    case TKeptState::ksTrusted:
      FocusControl->SyncCount(kept.Count);
      break;
    case TKeptState::ksUnverified:
      FocusControl->SyncCount(kept.Count);
      FPositionTrusted = false;
      FPositionNote =
          QStringLiteral("Position %1 unverified (no clean exit): Set Position or Reset")
              .arg(kept.Count);
      break;
    case TKeptState::ksDamaged:
      FPositionTrusted = false;
      FPositionNote =
          QStringLiteral("Kept position unreadable: 0 unverified; Set Position or Reset");
      break;
  }
  // From now on a crash leaves the file saying so.
  KeepPosition(false);
  UpdateStatusLine();
  BusStateChanged();
}

void TMainForm::KeepPosition(bool closed) {
  if (!FKeepPosition || !FocusControl) return;
  // A count not yet confirmed stays unconfirmed across a clean exit too.
  const TKeptPosition kept{FocusControl->CTSCount(), closed && FPositionTrusted};
  if (!WriteKeptPosition(KeptPositionPathFor(FIniPath), kept))
    LogLine("Unable to write to " + KeptPositionPathFor(FIniPath));
}

void TMainForm::TrustPosition() {
  const bool changed = !FPositionTrusted;
  FPositionTrusted = true;
  if (FocusControl) FocusControl->TrustCount();
  FPositionNote.clear();
  KeepPosition(false);
  if (!changed) return;
  UpdateStatusLine();
  BusStateChanged();
}

void TMainForm::DistrustPosition(const QString& note) {
  FPositionTrusted = false;
  FPositionNote = note;
  // Shown now, over whatever note stood; it stays behind later notes until trusted again.
  SetStatusNote(note);
  // A clean exit now keeps the count unverified.
  KeepPosition(false);
  BusStateChanged();
}

bool TMainFormConsole::PositionTrusted() {
  return Form.PositionTrusted();
}

}  // namespace morvane
