// The main window's run log: what happened, for the person looking into a night afterwards.
// The file's code (rotation, place) is settings/RunLog.*; here what is worth a line.

#include <cstdlib>
#include <string>

#include "ui/fMorvane.h"

namespace morvane {

void TMainForm::Log(const std::string& line) {
  FRunLog.Write(line);
}

void TMainForm::LogMoveAsked(int32_t target, const char* who) {
  if (!FocusControl) return;
  FLogTarget = target;
  Log("Move to " + std::to_string(target) + " from " + std::to_string(FocusControl->CTSCount()) +
      ", asked by " + who);
}

void TMainForm::LogMoveEnd() {
  if (!FLogTarget || !FocusControl) return;
  const int32_t target = *FLogTarget;
  FLogTarget.reset();
  const int32_t at = FocusControl->CTSCount();
  const int32_t off = std::abs(at - target);
  Log("Move to " + std::to_string(target) + " ended at " + std::to_string(at) +
      (off == 0 ? std::string(", on target") : ", " + std::to_string(off) + " from target"));
}

// Told once per change, with the reason the port is closed.
void TMainForm::LogPortChange() {
  if (!FStarted || !FocusControl) return;
  const bool open = FocusControl->PortOpen();
  if (FLoggedPortOpen == open) return;
  FLoggedPortOpen = open;
  const std::string port =
      "COM " + std::to_string(FocusControl->ComPort()) + " (" + PortDevice() + ")";
  Log(open ? "Port " + port + " open" : "Port " + port + " closed: " + PortProblem().toStdString());
}

void TMainForm::LogFile1Click() {
  ShowInformationMessage("Morvane's log of this computer's runs is\n\n" + LogFile() +
                         "\n\nAttach it (and the files beside it ending in .1 and .2) to a "
                         "report of a problem.");
}

}  // namespace morvane
