#include "ui/bus/FocuserService.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QStringList>
#include <QVariantMap>

#include <exception>

#include "Focuser1Adaptor.h"  // made from the interface's XML at build time
#include "platform/Broadcast.h"

namespace morvane {

TFocuserService::TFocuserService(TConsoleActions& console, QObject* parent)
    : QObject(parent), FConsole(console) {
  new TFocuser1Adaptor(this);  // owned by this object, as QtDBus expects
  FPositionTimer.setSingleShot(true);
  connect(&FPositionTimer, &QTimer::timeout, this, [this] { Announce(false); });
  FRunTimer.setSingleShot(true);
  FRunTimer.setTimerType(Qt::PreciseTimer);
  connect(&FRunTimer, &QTimer::timeout, this, &TFocuserService::EndBusRun);
}

TFocuserService::~TFocuserService() {
  if (!FPublished) {
    // Out of the queue for the name, if in it.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (FQueued && bus.isConnected()) {
      bus.unregisterObject(QString::fromLatin1(MorvaneObjectPath));
      bus.unregisterService(QString::fromLatin1(MorvaneBusName));
    }
    return;
  }
  QDBusConnection bus = QDBusConnection::sessionBus();
  bus.unregisterObject(QString::fromLatin1(MorvaneObjectPath));
  bus.unregisterService(QString::fromLatin1(MorvaneBusName));
}

bool TFocuserService::Publish() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    FError = QStringLiteral("no session bus");
    return false;
  }
  const QString name = QString::fromLatin1(MorvaneBusName);
  QDBusConnectionInterface* names = bus.interface();
  // Asked first: the bus does not refuse a name to a connection that owns it already.
  if (names->isServiceRegistered(name)) {
    FError = QStringLiteral("%1 is owned by another program on the session bus").arg(name);
    // Another copy of the program: this one queues for the name and takes it over, object and
    // all, when that one ends, so that a window on screen is always the one reached.
    if (names->serviceOwner(name).value() == bus.baseService()) return false;
    if (!bus.registerObject(QString::fromLatin1(MorvaneObjectPath), this,
                            QDBusConnection::ExportAdaptors))
      return false;
    connect(names, &QDBusConnectionInterface::serviceRegistered, this,
            [this, name](const QString& taken) {
              if (taken != name || FPublished) return;
              FError.clear();
              FinishPublish();
              if (OnNameTaken) OnNameTaken();
            });
    FQueued = names->registerService(name, QDBusConnectionInterface::QueueService).value() ==
              QDBusConnectionInterface::ServiceQueued;
    if (FQueued) FError += QStringLiteral("; taken over when that one ends");
    return false;
  }
  if (!bus.registerService(name)) {
    FError = QStringLiteral("%1 is owned by another program on the session bus").arg(name);
    return false;
  }
  if (!bus.registerObject(QString::fromLatin1(MorvaneObjectPath), this,
                          QDBusConnection::ExportAdaptors)) {
    bus.unregisterService(name);
    FError = QStringLiteral("the object %1 is taken").arg(QString::fromLatin1(MorvaneObjectPath));
    return false;
  }
  FinishPublish();
  return true;
}

void TFocuserService::FinishPublish() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  FSentPosition = Position();
  FSentIdle = Idle();
  FSentPortOpen = PortOpen();
  FSentComPort = ComPort();
  FSentTemperature = TemperatureAvailable();
  FSentTrusted = PositionTrusted();
  FSentReverse = ReverseDirection();
  FSentDevice = PortDevice();
  FSentProblem = PortProblem();
  FSentRunning = Running();
  FSentHeld = CompensationHeld();
  FSentLastMove = LastCompensationMove();
  FSentFault = LastFault();
  FSentLimits = FConsole.TravelLimits();
  FSentScale = PositionScale();
  FSentCompensation = FConsole.Compensation();
  FRunCallerWatcher = std::make_unique<QDBusServiceWatcher>(
      QString(), bus, QDBusServiceWatcher::WatchForUnregistration);
  connect(FRunCallerWatcher.get(), &QDBusServiceWatcher::serviceUnregistered, this,
          [this](const QString& name) {
            if (name == FRunCaller) EndBusRun();
          });
  FHoldWatcher = std::make_unique<QDBusServiceWatcher>(QString(), bus,
                                                       QDBusServiceWatcher::WatchForUnregistration);
  connect(FHoldWatcher.get(), &QDBusServiceWatcher::serviceUnregistered, this,
          [this](const QString& name) {
            FHoldWatcher->removeWatchedService(name);
            FConsole.ReleaseCompensation(name.toStdString());
            Announce(false);
          });
  FSincePosition.start();
  FPublished = true;
}

void TFocuserService::StateChanged() {
  if (FBusRun && !Running()) ForgetRun();  // ended in the window
  Announce(false);
}

// One PropertiesChanged with everything that differs from what the bus was told. Position
// alone waits out the rest of its interval; any other change takes the position with it, so
// that a client sees the landed position no later than the idle state.
void TFocuserService::Announce(bool flushPosition) {
  if (!FPublished) return;
  QVariantMap changed;
  const bool idle = Idle();
  const bool portOpen = PortOpen();
  const int comPort = ComPort();
  const bool temperature = TemperatureAvailable();
  if (idle != FSentIdle) changed.insert(QLatin1String(BusProperty::Idle), FSentIdle = idle);
  if (portOpen != FSentPortOpen)
    changed.insert(QLatin1String(BusProperty::PortOpen), FSentPortOpen = portOpen);
  if (comPort != FSentComPort)
    changed.insert(QLatin1String(BusProperty::ComPort), FSentComPort = comPort);
  if (temperature != FSentTemperature)
    changed.insert(QLatin1String(BusProperty::TemperatureAvailable),
                   FSentTemperature = temperature);
  if (const bool trusted = PositionTrusted(); trusted != FSentTrusted)
    changed.insert(QLatin1String(BusProperty::PositionTrusted), FSentTrusted = trusted);
  if (const QString device = PortDevice(); device != FSentDevice)
    changed.insert(QLatin1String(BusProperty::PortDevice), FSentDevice = device);
  if (const QString problem = PortProblem(); problem != FSentProblem)
    changed.insert(QLatin1String(BusProperty::PortProblem), FSentProblem = problem);
  if (const bool reverse = ReverseDirection(); reverse != FSentReverse)
    changed.insert(QLatin1String(BusProperty::ReverseDirection), FSentReverse = reverse);
  if (const bool running = Running(); running != FSentRunning)
    changed.insert(QLatin1String(BusProperty::Running), FSentRunning = running);
  if (const bool held = CompensationHeld(); held != FSentHeld)
    changed.insert(QLatin1String(BusProperty::CompensationHeld), FSentHeld = held);
  if (const int last = LastCompensationMove(); last != FSentLastMove)
    changed.insert(QLatin1String(BusProperty::LastCompensationMove), FSentLastMove = last);
  if (const int scale = PositionScale(); scale != FSentScale)
    changed.insert(QLatin1String(BusProperty::PositionScale), FSentScale = scale);
  if (const QString fault = LastFault(); fault != FSentFault)
    changed.insert(QLatin1String(BusProperty::LastFault), FSentFault = fault);
  if (const TTravelLimits limits = FConsole.TravelLimits(); !(limits == FSentLimits)) {
    if (limits.Set != FSentLimits.Set)
      changed.insert(QLatin1String(BusProperty::LimitsSet), limits.Set);
    if (limits.Lower != FSentLimits.Lower)
      changed.insert(QLatin1String(BusProperty::LowerLimit), limits.Lower);
    if (limits.Upper != FSentLimits.Upper)
      changed.insert(QLatin1String(BusProperty::UpperLimit), limits.Upper);
    FSentLimits = limits;
  }
  AddCompensationChanges(changed);
  const int position = Position();
  if (position != FSentPosition) {
    const qint64 since = FSincePosition.elapsed();
    if (flushPosition || !changed.isEmpty() || since >= PositionIntervalMs) {
      changed.insert(QLatin1String(BusProperty::Position), FSentPosition = position);
      FSincePosition.restart();
      FPositionTimer.stop();
    } else if (!FPositionTimer.isActive()) {
      FPositionTimer.start(static_cast<int>(PositionIntervalMs - since));
    }
  }
  if (changed.isEmpty()) return;
  QDBusMessage signal = QDBusMessage::createSignal(
      QString::fromLatin1(MorvaneObjectPath), QStringLiteral("org.freedesktop.DBus.Properties"),
      QStringLiteral("PropertiesChanged"));
  signal << QString::fromLatin1(Focuser1Interface) << changed << QStringList();
  QDBusConnection::sessionBus().send(signal);
}

void TFocuserService::Refuse(const QString& name, const QString& text) {
  if (calledFromDBus()) sendErrorReply(name, text);
}

// The reason goes with the refusal, so that a client can tell its user what to mend.
QString TFocuserService::PortClosedText() {
  const QString device = PortDevice();
  const QString problem = PortProblem();
  QString text = QStringLiteral("The focuser's port COM %1").arg(ComPort());
  if (!device.isEmpty()) text += QStringLiteral(" (%1)").arg(device);
  text += QStringLiteral(" is not open");
  if (!problem.isEmpty()) text += QStringLiteral(": ") + problem;
  return text;
}

bool TFocuserService::MayMove(int64_t target, bool needIdle, bool toTarget) {
  if (!PortOpen()) {
    Refuse(QString::fromLatin1(PortClosedError), PortClosedText());
    return false;
  }
  if (needIdle && !FConsole.Idle()) {
    Refuse(QString::fromLatin1(BusyError),
           QStringLiteral("A move is under way; wait until Idle is true"));
    return false;
  }
  if (!MoveTargetInRange(target)) {
    Refuse(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
           QStringLiteral("Target count %1 is out of range (%2 to %3)")
               .arg(target)
               .arg(-MoveLimit)
               .arg(MoveLimit));
    return false;
  }
  if (const TTravelLimits limits = FConsole.TravelLimits();
      toTarget && OutsideLimits(limits, target)) {
    Refuse(QString::fromLatin1(OutsideLimitsError),
           QString::fromStdString(OutsideLimitsText(limits, target)));
    return false;
  }
  return true;
}

// A handler's exception goes back to the caller as an error; it never crosses the event loop.
template <typename F>
void TFocuserService::Guarded(F&& action) {
  try {
    action();
  } catch (const std::exception& e) {
    Refuse(QString::fromLatin1(FailedError), QString::fromLocal8Bit(e.what()));
  }
}

void TFocuserService::MoveBy(int codes) {
  if (MayMove(int64_t{Position()} + codes, true)) Guarded([&] { FConsole.MoveByClick(codes); });
}

void TFocuserService::MoveTo(int count) {
  if (MayMove(count, true)) Guarded([&] { FConsole.MoveToClick(count); });
}

void TFocuserService::Stop() {
  Guarded([&] {
    FConsole.StopClick();
    EndBusRun();
  });
}

bool TFocuserService::HandOver() {
  return FConsole.HandOver();
}

void TFocuserService::ResetCount() {
  Guarded([&] { FConsole.ResetClick(); });
}

void TFocuserService::Sync(int count) {
  if (!MoveTargetInRange(count)) {
    Refuse(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
           QStringLiteral("Count %1 is out of range (%2 to %3)")
               .arg(count)
               .arg(-MoveLimit)
               .arg(MoveLimit));
    return;
  }
  Guarded([&] {
    const std::string refused = FConsole.SyncCount(count);
    if (!refused.empty()) Refuse(QString::fromLatin1(BusyError), QString::fromStdString(refused));
  });
}

void TFocuserService::SetReverseDirection(bool on) {
  // Swapping the motor's direction under a running move or run would turn it round.
  if (!FConsole.Idle() || FConsole.Running()) {
    Refuse(QString::fromLatin1(BusyError),
           QStringLiteral("The direction is changed only while the focuser rests"));
    return;
  }
  // The console announces the change, as it does one made in Setup.
  Guarded([&] { FConsole.SetReverseDirection(on); });
}

void TFocuserService::SetPositionScale(int scale) {
  // Only how clients show the count changes: nothing moves, so a move may run meanwhile.
  Guarded([&] { FConsole.SetPositionScale(scale); });
}

void TFocuserService::StartRun(bool in) {
  if (MayMove(0, false, false))
    Guarded([&] {
      FConsole.CoarseDown(in);
      TakeRun(0);
    });
}

void TFocuserService::StartTimedRun(bool in, uint milliseconds) {
  if (milliseconds == 0 || milliseconds > TimedRunLimitMs) {
    Refuse(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
           QStringLiteral("A timed run takes 1 to %1 milliseconds, not %2")
               .arg(TimedRunLimitMs)
               .arg(milliseconds));
    return;
  }
  if (MayMove(0, false, false))
    Guarded([&] {
      FConsole.CoarseDown(in);
      TakeRun(milliseconds);
    });
}

void TFocuserService::StopRun() {
  Guarded([&] {
    FConsole.CoarseUp();
    ForgetRun();
  });
}

void TFocuserService::TakeRun(uint32_t milliseconds) {
  ForgetRun();
  FBusRun = true;
  if (milliseconds > 0) FRunTimer.start(static_cast<int>(milliseconds));
  if (!calledFromDBus() || !FRunCallerWatcher) return;
  FRunCaller = message().service();
  FRunCallerWatcher->setWatchedServices({FRunCaller});
  // A caller that left before the watch began is not reported by it.
  if (!QDBusConnection::sessionBus().interface()->isServiceRegistered(FRunCaller)) EndBusRun();
}

// The run started over the bus ends, unless it has ended already (the window's own runs are
// the window's).
void TFocuserService::EndBusRun() {
  if (!FBusRun) return;
  ForgetRun();
  if (Running()) FConsole.CoarseUp();
}

void TFocuserService::ForgetRun() {
  FBusRun = false;
  FRunTimer.stop();
  FRunCaller.clear();
  if (FRunCallerWatcher) FRunCallerWatcher->setWatchedServices({});
}

}  // namespace morvane

namespace morvane {

double TFocuserService::ReadTemperature() {
  if (!PortOpen()) {
    Refuse(QString::fromLatin1(PortClosedError), PortClosedText());
    return 0;
  }
  if (!FConsole.Idle()) {
    Refuse(QString::fromLatin1(BusyError),
           QStringLiteral("The temperature is not read while a move runs"));
    return 0;
  }
  double celsius = 0;
  bool read = false;
  try {
    read = FConsole.ReadTemperature(celsius);
  } catch (const std::exception& e) {
    // A garbled answer of the module; the caller is told, nothing crosses the event loop.
    Refuse(QString::fromLatin1(FailedError),
           QStringLiteral("The temperature module's answer was not understood: %1")
               .arg(QString::fromLocal8Bit(e.what())));
    return 0;
  }
  if (!read) {
    Refuse(QString::fromLatin1(NotAvailableError),
           QStringLiteral("Temperature Functions are not available"));
    return 0;
  }
  return celsius;
}

template <typename F>
void TFocuserService::ChangeCompensation(F&& change) {
  Guarded([&] {
    TCompensationSettings s = FConsole.Compensation();
    change(s);
    FConsole.SetCompensation(s);
  });
  Announce(false);  // the value as Morvane took it, once, whoever else announces it
}

// The settings and the reference, whatever changed them: the bus, the window, the driver
// taking a reference, a reload of the file.
void TFocuserService::AddCompensationChanges(QVariantMap& changed) {
  const TCompensationSettings now = FConsole.Compensation();
  TCompensationSettings& sent = FSentCompensation;
  const auto note = [&changed](const char* name, const auto& value, auto& told) {
    if (value == told) return;
    told = value;
    changed.insert(QString::fromLatin1(name), QVariant::fromValue(told));
  };
  note(BusProperty::BacklashMode, now.BacklashMode, sent.BacklashMode);
  note(BusProperty::BacklashCodes, now.BacklashCodes, sent.BacklashCodes);
  note(BusProperty::TempCompensation, now.TempComp, sent.TempComp);
  note(BusProperty::TempCoefficient, now.TempCoefficient, sent.TempCoefficient);
  note(BusProperty::TempDeadBand, now.TempDeadBand, sent.TempDeadBand);
  note(BusProperty::TempSamples, now.TempSamples, sent.TempSamples);
  note(BusProperty::TempReference, now.TempReference, sent.TempReference);
}

void TFocuserService::SetBacklashMode(int v) {
  ChangeCompensation([v](TCompensationSettings& s) { s.BacklashMode = v; });
}
void TFocuserService::SetBacklashCodes(int v) {
  ChangeCompensation([v](TCompensationSettings& s) { s.BacklashCodes = v; });
}
void TFocuserService::SetTempCompensation(bool v) {
  ChangeCompensation([v](TCompensationSettings& s) { s.TempComp = v; });
}
void TFocuserService::SetTempCoefficient(double v) {
  ChangeCompensation([v](TCompensationSettings& s) { s.TempCoefficient = v; });
}
void TFocuserService::SetTempDeadBand(int v) {
  ChangeCompensation([v](TCompensationSettings& s) { s.TempDeadBand = v; });
}
void TFocuserService::SetTempSamples(int v) {
  ChangeCompensation([v](TCompensationSettings& s) { s.TempSamples = v; });
}

void TFocuserService::HoldCompensation() {
  const QString caller = calledFromDBus() ? message().service() : QString();
  FConsole.HoldCompensation(caller.toStdString());
  if (caller.isEmpty() || !FHoldWatcher) return;
  FHoldWatcher->addWatchedService(caller);
  // A caller that left before the watch began is not reported by it.
  if (!QDBusConnection::sessionBus().interface()->isServiceRegistered(caller)) {
    FHoldWatcher->removeWatchedService(caller);
    FConsole.ReleaseCompensation(caller.toStdString());
  }
  Announce(false);
}

void TFocuserService::ReleaseCompensation() {
  const QString caller = calledFromDBus() ? message().service() : QString();
  if (!caller.isEmpty() && FHoldWatcher) FHoldWatcher->removeWatchedService(caller);
  FConsole.ReleaseCompensation(caller.toStdString());
  Announce(false);
}

double TFocuserService::MarkFocus(int& position) {
  position = 0;
  TMarkOutcome m;
  try {
    m = FConsole.MarkFocus();
  } catch (const std::exception& e) {
    Refuse(QString::fromLatin1(FailedError), QString::fromLocal8Bit(e.what()));
    return 0;
  }
  const QString text = QString::fromStdString(m.Text);
  switch (m.Refusal) {
    case TMarkRefusal::mrNone:
      position = m.Position;
      return m.Celsius;
    case TMarkRefusal::mrPortClosed:
      Refuse(QString::fromLatin1(PortClosedError), text);
      break;
    case TMarkRefusal::mrBusy:
      Refuse(QString::fromLatin1(BusyError), text);
      break;
    case TMarkRefusal::mrNotAvailable:
      Refuse(QString::fromLatin1(NotAvailableError), text);
      break;
    case TMarkRefusal::mrFailed:
      Refuse(QString::fromLatin1(FailedError), text);
      break;
  }
  return 0;
}

}  // namespace morvane

namespace morvane {

// A measurement or a search runs the focuser on its own: only from rest, on an open port.
bool TFocuserService::MayStartLongRun() {
  if (!PortOpen()) {
    Refuse(QString::fromLatin1(PortClosedError), PortClosedText());
    return false;
  }
  if (!FConsole.Idle() || Running()) {
    Refuse(QString::fromLatin1(BusyError),
           QStringLiteral("A move is under way; wait until Idle is true"));
    return false;
  }
  return true;
}

bool TFocuserService::MeasureBacklash(double& /*play*/, double& /*uncertainty*/,
                                      QString& /*text*/) {
  if (!MayStartLongRun()) return false;
  // Answered when the measurement ends, which takes many seconds.
  const bool fromBus = calledFromDBus();
  QDBusMessage call;
  if (fromBus) {
    setDelayedReply(true);
    call = message();
  }
  Guarded([&] {
    FConsole.MeasureBacklash([fromBus, call](const TBacklashReply& r) {
      if (!fromBus) return;
      const QString text = QString::fromStdString(r.Text);
      QDBusMessage reply = r.ErrorName.empty()
                               ? call.createReply({r.Seen, r.PlayCodes, r.Uncertainty, text})
                               : call.createErrorReply(QString::fromStdString(r.ErrorName), text);
      QDBusConnection::sessionBus().send(reply);
    });
  });
  return false;
}

}  // namespace morvane

namespace morvane {

void TFocuserService::SetLimits(int lower, int upper) {
  if (!LimitsValid(lower, upper)) {
    Refuse(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
           QString::fromStdString(LimitsRefusalText(lower, upper)));
    return;
  }
  Guarded([&] {
    const std::string refused = FConsole.SetTravelLimits({true, lower, upper});
    if (!refused.empty()) Refuse(QString::fromLatin1(BusyError), QString::fromStdString(refused));
  });
  Announce(false);
}

void TFocuserService::ClearLimits() {
  Guarded([&] {
    TTravelLimits off = FConsole.TravelLimits();
    off.Set = false;
    const std::string refused = FConsole.SetTravelLimits(off);
    if (!refused.empty()) Refuse(QString::fromLatin1(BusyError), QString::fromStdString(refused));
  });
  Announce(false);
}

int TFocuserService::FindTravel(int& /*upperStop*/) {
  if (!MayStartLongRun()) return 0;
  // Answered when both stops have been found and the focuser is back, which takes minutes.
  const bool fromBus = calledFromDBus();
  QDBusMessage call;
  if (fromBus) {
    setDelayedReply(true);
    call = message();
  }
  Guarded([&] {
    FConsole.FindTravel([fromBus, call](const TTravelReply& r) {
      if (!fromBus) return;
      QDBusMessage reply = r.ErrorName.empty()
                               ? call.createReply({r.LowerStop, r.UpperStop})
                               : call.createErrorReply(QString::fromStdString(r.ErrorName),
                                                       QString::fromStdString(r.Text));
      QDBusConnection::sessionBus().send(reply);
    });
  });
  return 0;
}

}  // namespace morvane
