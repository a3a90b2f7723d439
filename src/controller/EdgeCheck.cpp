// The count's own check, TFocusControl's side: what the counting thread asks of the drive,
// and the warning when it finds edges lost (the rule: EdgeCheckRule).

#include "controller/EdgeCheckRule.h"
#include "controller/Objects.h"
#include "platform/Signals.h"

namespace morvane {

uint32_t TFocusControl::EdgeDrive(bool& steady) const {
  const uint64_t drive = FEdgeDrive.load();
  steady = (drive & 1) != 0 && !FInterruptsOff.load();
  return static_cast<uint32_t>(drive >> 1);
}

void TFocusControl::DoEdgesLost(int32_t count, int ctsChanges, int dsrChanges) {
  // Once until the user says where the focuser is: the count stays doubtful until then, and
  // a warning per reading would bury the status line.
  if (FEdgesLost.exchange(true)) return;
  FEdgeLossCount.fetch_add(1);
  const std::string text = EdgeLossText(count, ctsChanges, dsrChanges);
  {
    std::lock_guard lock(FStallLock);
    FLastFault = text;
  }
  LogLine(text);
  if (OnCountFault) OnCountFault(this, text);
}

void TFocusControl::TrustCount() {
  FEdgesLost.store(false);
}

}  // namespace morvane
