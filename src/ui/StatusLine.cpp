// The status line under the console: which port the focuser is on and what that port is,
// whether it is open, the mode; below it the last error, kept until the next action, or how
// the last move ended.

#include <QLabel>
#include <QStatusBar>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/PosixSerialPort.h"
#include "settings/fSetupForm.h"
#include "ui/fMorvane.h"
#include "ui_fMorvane.h"

namespace morvane {

void TMainForm::PrepareStatusLine() {
  FStatusLine = new QLabel(this);
  FStatusLine->setObjectName(QStringLiteral("StatusLine"));
  FStatusLine->setFixedHeight(StatusLineHeight - 4);
  FStatusLine->setTextFormat(Qt::PlainText);
  FStatusLine->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  statusBar()->setSizeGripEnabled(false);
  statusBar()->addWidget(FStatusLine, 1);
  statusBar()->setFixedHeight(StatusLineHeight);
  FStatusTimer.setInterval(500);
  FDeviceWatchTimer.setInterval(DeviceWatchMs);
}

void TMainForm::SetPortNamer(std::function<std::string(int)> namer) {
  FConsole->SetPortNamer(std::move(namer));
}

std::string TMainForm::PortDevice() const {
  return FConsole->PortDevice();
}

std::string TMainForm::PortDeviceFor(int n) const {
  return FConsole->PortDeviceFor(n);
}

QString TMainForm::PortProblem() const {
  return QString::fromStdString(FConsole->PortProblem());
}

QString TMainForm::PortDescription() const {
  const int port = FocusControl->ComPort();
  const std::string device = FConsole->PortDevice();
  const QString what =
      device == "simulator" ? QStringLiteral("the simulator") : QString::fromStdString(device);
  return QStringLiteral("COM %1 \u2192 %2, %3, %4")
      .arg(port)
      .arg(what,
           FConsole->PortOpen() ? QStringLiteral("connected") : QStringLiteral("not connected"),
           FocusControl->UseRTS_DTR() ? QStringLiteral("direct") : QStringLiteral("LX-200"));
}

void TMainForm::UpdateStatusLine() {
  if (!FocusControl || !FConsole || !FStatusLine) return;
  LogPortChange();
  const QString text = PortDescription() + QLatin1Char('\n') + FConsole->StatusText();
  if (FStatusText != text) {
    FStatusText = text;
    FStatusLine->setText(text);
    FStatusLine->setToolTip(text);
  }
}

void TMainForm::SetStatusNote(const QString& note) {
  if (FConsole) FConsole->SetStatusNote(note);
}

void TMainForm::SetBusProblem(const QString& problem) {
  if (FConsole) FConsole->SetBusProblem(problem);
}

// A timer rather than inotify on /dev: the device may be a /dev/serial/by-id link whose
// folder is made with the first adapter, and udev gives the node its group only after making
// it, so the first open can be refused. A look (a stat) a second is nothing; the open is
// tried only when the path has come since it was last seen missing (a node that stays there
// without its device is not opened again and again), and then a few more times while
// permission is refused.
void TMainForm::WatchForDevice() {
  if (!FStarted || FClosed || !FocusControl || FocusControl->PortOpen()) return;
  if (SetupForm->isVisible()) return;  // the user is choosing a port
  const int error = FocusControl->LastOpenError();
  const bool missing = DeviceMissing(error);
  const bool refused = error == EACCES || error == EPERM;
  if (!missing && !(refused && FDeviceGraceTries > 0)) return;
  const std::string device = PortDevice();
  std::error_code ignored;
  if (device.empty() || !std::filesystem::exists(device, ignored)) {
    FDeviceWasAbsent = true;
    return;
  }
  if (missing) {
    // ENOENT: the path was missing at the open itself.
    if (error != ENOENT && !FDeviceWasAbsent) return;
    FDeviceGraceTries = DevicePermissionTries;
  }
  FDeviceWasAbsent = false;
  --FDeviceGraceTries;
  // The count the window holds (restored at start) survives the open.
  const int32_t count = FocusControl->CTSCount();
  if (!SetupForm->ReopenPort()) {
    UpdateStatusLine();
    BusStateChanged();
    return;
  }
  FDeviceGraceTries = 0;
  if (FocusControl->CTSCount() != count) FocusControl->SyncCount(count);
  SetStatusNote(QStringLiteral("COM %1 (%2) appeared and was opened")
                    .arg(FocusControl->ComPort())
                    .arg(QString::fromStdString(device)));
  BusStateChanged();
}

bool TMainForm::PortReady() {
  if (FocusControl->PortOpen()) return true;
  SetStatusNote(QStringLiteral("Not connected: open a port in Setup"));
  return false;
}

void TMainForm::NoteMoveTarget(int32_t target) {
  LogMoveAsked(target, "the window");
  FMoveTarget = target;
  SetStatusNote(QString());
}

void TMainForm::NoteMoveEnd() {
  if (!FMoveTarget) return;
  const int32_t target = *FMoveTarget;
  FMoveTarget.reset();
  const int32_t off = std::abs(FocusControl->CTSCount() - target);
  SetStatusNote(off == 0 ? QStringLiteral("At %1").arg(target)
                         : QStringLiteral("Ended %1 code%2 from %3")
                               .arg(off)
                               .arg(off == 1 ? QString() : QStringLiteral("s"))
                               .arg(target));
}

}  // namespace morvane
