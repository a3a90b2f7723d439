// "Measure Backlash...": the window's action and the bus's method start the same measurement;
// its end comes back to the GUI thread, to the status line and to whoever asked.

#include <QMessageBox>
#include <QMetaObject>

#include "host/ExceptionBoundary.h"
#include "motion/BacklashThread.h"
#include "platform/BusContract.h"
#include "platform/Signals.h"
#include "ui/MainFormBus.h"
#include "ui/fMorvane.h"
#include "ui_fMorvane.h"

namespace morvane {

namespace {
const char* RefusalText(TFocusControl::TMeasureRefusal r) {
  switch (r) {
    case TFocusControl::TMeasureRefusal::mrPortClosed:
      return "Not connected: open a port in Setup";
    case TFocusControl::TMeasureRefusal::mrMoving:
      return "A move is under way: measure the backlash once it has ended";
    case TFocusControl::TMeasureRefusal::mrCoarseRun:
      return "The focuser runs: measure the backlash once it has stopped";
    case TFocusControl::TMeasureRefusal::mrPaused:
      return "The focuser is paused: measure the backlash once the pause has ended";
    case TFocusControl::TMeasureRefusal::mrLineBusy:
      return "The temperature module is being read: try again in a moment";
    case TFocusControl::TMeasureRefusal::mrNone:
      break;
  }
  return "";
}

// The line's note: the result in short; the box and the log have it whole.
QString StatusText(const TBacklashReport& r) {
  if (r.End == TMeasureEnd::meDone && r.Result.Outcome == TBacklashOutcome::boMeasured)
    return QStringLiteral("Backlash between motor and encoder: %1 \u00b1 %2 codes")
        .arg(r.Result.PlayCodes, 0, 'f', 1)
        .arg(r.Result.Uncertainty, 0, 'f', 1);
  if (r.End == TMeasureEnd::meDone && r.Result.Outcome == TBacklashOutcome::boNotSeen)
    return QStringLiteral("No backlash seen between motor and encoder");
  return QStringLiteral("Backlash not measured: ") +
         QString::fromStdString(BacklashReportText(r)).section(QLatin1Char('.'), 0, 0);
}
}  // namespace

void TMainForm::MeasureBacklash1Click() {
  if (!PortReady()) return;
  auto* box = new QMessageBox(
      QMessageBox::Question, QStringLiteral("Measure Backlash"),
      QStringLiteral("Measuring the backlash moves the focuser: it runs in for a moment, then "
                     "turns back in short pulses until the count moves, and returns to where it "
                     "started. Cancel stops it.\n\nMeasure the backlash now?"),
      QMessageBox::Yes | QMessageBox::No, this);
  box->setDefaultButton(QMessageBox::No);
  box->setAttribute(Qt::WA_DeleteOnClose);
  connect(box, &QMessageBox::finished, this, [this](int answer) {
    if (answer != QMessageBox::Yes) return;
    CallHandler([this] {
      const QString refused = StartBacklashMeasurement(
          [this](const TBacklashReport& r) { FHost.ShowMessage(BacklashReportText(r)); });
      if (!refused.isEmpty()) SetStatusNote(refused);
    });
  });
  box->open();
}

QString TMainForm::StartBacklashMeasurement(std::function<void(const TBacklashReport&)> done) {
  if (FConsole->Running()) return RefusalText(TFocusControl::TMeasureRefusal::mrCoarseRun);
  SilenceVoice();
  // Started first in the line's note, so that the end replaces it.
  SetStatusNote(QStringLiteral("Measuring the backlash"));
  const auto refusal = FocusControl->MeasureBacklash(
      true, [this, done = std::move(done)](const TBacklashReport& report) {
        // The controller, and with it this thread, ends before the window goes.
        QMetaObject::invokeMethod(
            this,
            [this, done, report] {
              CallHandler([&] {
                LogLine(BacklashReportText(report));
                // A measurement the stall guard stopped keeps the guard's reason on the line.
                const std::string fault = FocusControl ? FocusControl->LastFault() : std::string();
                SetStatusNote(fault.empty() ? StatusText(report) : QString::fromStdString(fault));
                if (done) done(report);
              });
            },
            Qt::QueuedConnection);
      });
  if (refusal == TFocusControl::TMeasureRefusal::mrNone) return {};
  const QString text = QString::fromLatin1(RefusalText(refusal));
  SetStatusNote(QString());
  return text;
}

void TMainFormConsole::MeasureBacklash(std::function<void(const TBacklashReply&)> done) {
  auto reply = [done](const TBacklashReport& r) {
    TBacklashReply out;
    out.Text = BacklashReportText(r);
    switch (r.End) {
      case TMeasureEnd::meDone:
        if (!r.Found()) out.ErrorName = FailedError;
        break;
      case TMeasureEnd::meStopped:
        out.ErrorName = StoppedError;
        break;
      case TMeasureEnd::mePortClosed:
        out.ErrorName = PortClosedError;
        break;
      case TMeasureEnd::meNoPermit:
        out.ErrorName = FailedError;
        break;
    }
    out.Seen = r.Result.Outcome == TBacklashOutcome::boMeasured;
    out.PlayCodes = r.Result.PlayCodes;
    out.Uncertainty = r.Result.Uncertainty;
    done(out);
  };
  const QString refused = Form.StartBacklashMeasurement(reply);
  if (refused.isEmpty()) return;
  TBacklashReply out;
  out.ErrorName = Form.Controller().PortOpen() ? BusyError : PortClosedError;
  out.Text = refused.toStdString();
  done(out);
}

}  // namespace morvane
