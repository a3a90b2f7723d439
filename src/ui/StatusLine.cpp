// The status line under the console: which port the focuser is on and what that port is,
// whether it is open, the mode; below it the last error, kept until the next action, or how
// the last move ended.

#include <QLabel>
#include <QStatusBar>

#include <cstdlib>

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
}

void TMainForm::SetPortNamer(std::function<std::string(int)> namer) {
  FConsole->SetPortNamer(std::move(namer));
}

std::string TMainForm::PortDevice() const {
  return FConsole->PortDevice();
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

bool TMainForm::PortReady() {
  if (FocusControl->PortOpen()) return true;
  SetStatusNote(QStringLiteral("Not connected: open a port in Setup"));
  return false;
}

void TMainForm::NoteMoveTarget(int32_t target) {
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
