// Travel limits and "Find Travel...": the window's status line and question, the bus's
// properties and methods, and the settings file, all on the one pair of limits the controller
// keeps.

#include <QMessageBox>
#include <QMetaObject>

#include "host/ExceptionBoundary.h"
#include "motion/TravelThread.h"
#include "platform/BusContract.h"
#include "platform/Signals.h"
#include "settings/LimitSettings.h"
#include "ui/MainFormBus.h"
#include "ui/fMorvane.h"

namespace morvane {

namespace {
const char* TravelRefusalText(TFocusControl::TMeasureRefusal r) {
  switch (r) {
    case TFocusControl::TMeasureRefusal::mrPortClosed:
      return "Not connected: open a port in Setup";
    case TFocusControl::TMeasureRefusal::mrMoving:
      return "A move is under way: find the travel once it has ended";
    case TFocusControl::TMeasureRefusal::mrCoarseRun:
      return "The focuser runs: find the travel once it has stopped";
    case TFocusControl::TMeasureRefusal::mrPaused:
      return "The focuser is paused: find the travel once the pause has ended";
    case TFocusControl::TMeasureRefusal::mrLineBusy:
    case TFocusControl::TMeasureRefusal::mrNone:
      break;
  }
  return "";
}
}  // namespace

bool TMainForm::RefuseOutsideLimits(int64_t target) {
  const std::string refused = FocusControl->LimitRefusal(target);
  if (refused.empty()) return false;
  SetStatusNote(QString::fromStdString(refused));
  return true;
}

QString TMainForm::SetTravelLimits(const TTravelLimits& limits) {
  if (limits.Set && !LimitsValid(limits.Lower, limits.Upper))
    return QString::fromStdString(LimitsRefusalText(limits.Lower, limits.Upper));
  if (!FocusControl->SetTravelLimits(limits))
    return QStringLiteral("Travel limits not changed: a move or a run is under way; Stop it first");
  if (!SaveTravelLimits(FIniPath, limits)) LogLine("Unable to write to " + FIniPath);
  SetStatusNote(limits.Set
                    ? QStringLiteral("Travel limits %1 to %2").arg(limits.Lower).arg(limits.Upper)
                    : QStringLiteral("No travel limits"));
  BusStateChanged();
  return {};
}

void TMainForm::FindTravel1Click() {
  if (!PortReady()) return;
  auto* box = new QMessageBox(
      QMessageBox::Question, QStringLiteral("Find Travel"),
      QStringLiteral("Find Travel runs the focuser slowly out to its end stop, then in to the "
                     "other one, and back to where it started; Stop or Escape ends it. Make sure "
                     "nothing else limits the focuser's travel.\n\nFind the travel now?"),
      QMessageBox::Yes | QMessageBox::No, this);
  box->setDefaultButton(QMessageBox::No);
  box->setAttribute(Qt::WA_DeleteOnClose);
  connect(box, &QMessageBox::finished, this, [this](int answer) {
    if (answer != QMessageBox::Yes) return;
    CallHandler([this] {
      const QString refused = StartFindTravel([this](const TTravelReport& r) {
        const TTravelLimits offered = r.Offered();
        if (!offered.Set) return;
        auto* ask = new QMessageBox(
            QMessageBox::Question, QStringLiteral("Find Travel"),
            QStringLiteral("The end stops are at %1 and %2.\n\nSet the travel limits to %3 and "
                           "%4, a margin inside them?")
                .arg(r.LowerStop)
                .arg(r.UpperStop)
                .arg(offered.Lower)
                .arg(offered.Upper),
            QMessageBox::Yes | QMessageBox::No, this);
        ask->setDefaultButton(QMessageBox::Yes);
        ask->setAttribute(Qt::WA_DeleteOnClose);
        connect(ask, &QMessageBox::finished, this, [this, offered](int yes) {
          if (yes != QMessageBox::Yes) return;
          CallHandler([this, offered] {
            const QString refused = SetTravelLimits(offered);
            if (!refused.isEmpty()) SetStatusNote(refused);
          });
        });
        ask->open();
      });
      if (!refused.isEmpty()) SetStatusNote(refused);
    });
  });
  box->open();
}

QString TMainForm::StartFindTravel(std::function<void(const TTravelReport&)> done) {
  if (FConsole->Running()) return TravelRefusalText(TFocusControl::TMeasureRefusal::mrCoarseRun);
  SilenceVoice();
  SetStatusNote(QStringLiteral("Find Travel"));
  QPointer<TMainForm> self(this);
  const auto refusal = FocusControl->FindTravel(
      [this, self](const std::string& text) {
        FHost.Post([self, text] {
          if (self && self->FocusControl && self->FocusControl->SearchingTravel())
            self->SetStatusNote(QString::fromStdString(text));
        });
      },
      [this, done = std::move(done)](const TTravelReport& report) {
        // The controller, and with it this thread, ends before the window goes.
        QMetaObject::invokeMethod(
            this,
            [this, done, report] {
              CallHandler([&] {
                const std::string text = TravelReportText(report);
                LogLine(text);
                SetStatusNote(QString::fromStdString(text));
                if (done) done(report);
              });
            },
            Qt::QueuedConnection);
      });
  if (refusal == TFocusControl::TMeasureRefusal::mrNone) return {};
  SetStatusNote(QString());
  return QString::fromLatin1(TravelRefusalText(refusal));
}

TTravelLimits TMainFormConsole::TravelLimits() {
  return Form.Controller().TravelLimits();
}

std::string TMainFormConsole::SetTravelLimits(const TTravelLimits& limits) {
  return Form.SetTravelLimits(limits).toStdString();
}

void TMainFormConsole::FindTravel(std::function<void(const TTravelReply&)> done) {
  auto reply = [done](const TTravelReport& r) {
    TTravelReply out;
    out.Text = TravelReportText(r);
    out.LowerStop = r.LowerStop;
    out.UpperStop = r.UpperStop;
    switch (r.End) {
      case TTravelEnd::teDone:
        break;
      case TTravelEnd::teStopped:
        out.ErrorName = StoppedError;
        break;
      case TTravelEnd::tePortClosed:
        out.ErrorName = PortClosedError;
        break;
      case TTravelEnd::teNoPermit:
        out.ErrorName = FailedError;
        break;
    }
    done(out);
  };
  const QString refused = Form.StartFindTravel(reply);
  if (refused.isEmpty()) return;
  TTravelReply out;
  out.ErrorName = Form.Controller().PortOpen() ? BusyError : PortClosedError;
  out.Text = refused.toStdString();
  done(out);
}

}  // namespace morvane
