#pragma once
// The focuser on the session bus: interface "org.morvane.Focuser1" on object
// "/org/morvane/Morvane" under the name "org.morvane.Morvane", for programs that want
// answers rather than broadcasts. Each method does what the console's button does; the
// properties follow the console and are announced with PropertiesChanged.

#include <QDBusContext>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantMap>

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/BusContract.h"
#include "ui/bus/ConsoleActions.h"

class QDBusServiceWatcher;

namespace morvane {

class TFocuserService : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_PROPERTY(int Position READ Position)
  Q_PROPERTY(bool Idle READ Idle)
  Q_PROPERTY(bool Running READ Running)
  Q_PROPERTY(bool PortOpen READ PortOpen)
  Q_PROPERTY(int ComPort READ ComPort)
  Q_PROPERTY(bool TemperatureAvailable READ TemperatureAvailable)
  Q_PROPERTY(bool PositionTrusted READ PositionTrusted)
  Q_PROPERTY(QString PortDevice READ PortDevice)
  Q_PROPERTY(QString PortProblem READ PortProblem)
  Q_PROPERTY(bool ReverseDirection READ ReverseDirection WRITE SetReverseDirection)
  Q_PROPERTY(int BacklashMode READ BacklashMode WRITE SetBacklashMode)
  Q_PROPERTY(int BacklashCodes READ BacklashCodes WRITE SetBacklashCodes)
  Q_PROPERTY(bool TempCompensation READ TempCompensation WRITE SetTempCompensation)
  Q_PROPERTY(double TempCoefficient READ TempCoefficient WRITE SetTempCoefficient)
  Q_PROPERTY(int TempDeadBand READ TempDeadBand WRITE SetTempDeadBand)
  Q_PROPERTY(int TempSamples READ TempSamples WRITE SetTempSamples)
  Q_PROPERTY(double TempReference READ TempReference)
  Q_PROPERTY(bool CompensationHeld READ CompensationHeld)
  Q_PROPERTY(int LastCompensationMove READ LastCompensationMove)
  Q_PROPERTY(QString LastFault READ LastFault)
  Q_PROPERTY(bool LimitsSet READ LimitsSet)
  Q_PROPERTY(int LowerLimit READ LowerLimit)
  Q_PROPERTY(int UpperLimit READ UpperLimit)
  Q_PROPERTY(int PositionScale READ PositionScale WRITE SetPositionScale)

 public:
  // Position changes are announced at most this often while the readout moves.
  static constexpr int PositionIntervalMs = 20;
  // The longest run StartTimedRun takes.
  static constexpr uint32_t TimedRunLimitMs = 60000;

  explicit TFocuserService(TConsoleActions& console, QObject* parent = nullptr);
  ~TFocuserService() override;

  // Takes the bus name and puts the object on the bus. False, with the reason in Error(),
  // when there is no session bus or another program owns the name; the program then runs
  // without the interface.
  // A copy that finds the name owned by another program queues for it and takes it over when
  // that one ends; OnNameTaken is then called.
  bool Publish();
  std::function<void()> OnNameTaken;
  bool Published() const { return FPublished; }
  const QString& Error() const { return FError; }

  // The window calls this after anything the properties show may have changed (the readout,
  // the idle state, the port, the module's availability, the compensation settings and state).
  void StateChanged();

  int Position() { return FConsole.ShownPosition(); }
  // What the console shows, so that a client sees every change in order; the guards below
  // ask the controller itself, as the console's buttons do.
  bool Idle() { return FConsole.ShownIdle(); }
  bool Running() { return FConsole.Running(); }
  bool PortOpen() { return FConsole.PortOpen(); }
  int ComPort() { return FConsole.ComPort(); }
  bool TemperatureAvailable() { return FConsole.TemperatureAvailable(); }
  bool PositionTrusted() { return FConsole.PositionTrusted(); }
  QString PortDevice() { return QString::fromStdString(FConsole.PortDevice()); }
  QString PortProblem() { return QString::fromStdString(FConsole.PortProblem()); }
  bool ReverseDirection() { return FConsole.ReverseDirection(); }
  void SetReverseDirection(bool on);

  int BacklashMode() { return FConsole.Compensation().BacklashMode; }
  int BacklashCodes() { return FConsole.Compensation().BacklashCodes; }
  bool TempCompensation() { return FConsole.Compensation().TempComp; }
  double TempCoefficient() { return FConsole.Compensation().TempCoefficient; }
  int TempDeadBand() { return FConsole.Compensation().TempDeadBand; }
  int TempSamples() { return FConsole.Compensation().TempSamples; }
  double TempReference() { return FConsole.Compensation().TempReference; }
  bool CompensationHeld() { return FConsole.CompensationHeld(); }
  int LastCompensationMove() { return FConsole.LastCompensationMove(); }
  QString LastFault() { return QString::fromStdString(FConsole.LastFault()); }
  bool LimitsSet() { return FConsole.TravelLimits().Set; }
  int LowerLimit() { return FConsole.TravelLimits().Lower; }
  int UpperLimit() { return FConsole.TravelLimits().Upper; }
  int PositionScale() { return FConsole.PositionScale(); }
  // Brought into LeastPositionScale..MostPositionScale and saved; the console announces it.
  void SetPositionScale(int scale);
  // Each setting written alone; the console brings it into its range and saves it.
  void SetBacklashMode(int v);
  void SetBacklashCodes(int v);
  void SetTempCompensation(bool v);
  void SetTempCoefficient(double v);
  void SetTempDeadBand(int v);
  void SetTempSamples(int v);

 public Q_SLOTS:
  void MoveBy(int codes);
  void MoveTo(int count);
  void Stop();
  // A window starting asks this copy for the port and the name: true, and this copy closes,
  // when it runs without a window; false, and its window comes to the front, otherwise.
  bool HandOver();
  void ResetCount();
  // The count becomes count without a move; refused while a move or a run is under way.
  void Sync(int count);
  void StartRun(bool in);
  void StartTimedRun(bool in, uint milliseconds);
  void StopRun();
  double ReadTemperature();
  // Holds temperature compensation still until the caller releases it or leaves the bus.
  void HoldCompensation();
  void ReleaseCompensation();
  // Marks "in focus here": returns the temperature logged and sets position to the count.
  double MarkFocus(int& position);
  // "Measure backlash"; the reply is sent when it ends (a delayed reply), or an error.
  bool MeasureBacklash(double& play, double& uncertainty, QString& text);
  // Travel limits, applied and saved; refused while a move or a run is under way.
  void SetLimits(int lower, int upper);
  void ClearLimits();
  // "Find Travel"; the reply (lowerStop, upperStop) is sent when it ends, or an error.
  int FindTravel(int& upperStop);

 private:
  // Refuses a move with a D-Bus error when the console could not make it; true when it may go.
  // A run has no target: it stops at the limit it runs towards (toTarget false).
  bool MayMove(int64_t target, bool needIdle, bool toTarget = true);
  void Refuse(const QString& name, const QString& text);
  QString PortClosedText();
  // Refuses a measurement or Find Travel on a closed port or while the focuser moves.
  bool MayStartLongRun();
  template <typename F>
  void Guarded(F&& action);
  void Announce(bool flushPosition);
  // The object's state as first told to the bus, once the name is this program's.
  void FinishPublish();
  // A run started over the bus belongs to its caller: it ends when the caller leaves the bus,
  // and a timed one when its time is up.
  void TakeRun(uint32_t milliseconds);
  void EndBusRun();
  void ForgetRun();
  template <typename F>
  void ChangeCompensation(F&& change);
  void AddCompensationChanges(QVariantMap& changed);

  TConsoleActions& FConsole;
  bool FPublished = false;
  bool FQueued = false;  // waiting for the name another program holds
  QString FError;
  // What the bus was last told.
  int FSentPosition = 0;
  bool FSentIdle = true;
  bool FSentPortOpen = false;
  int FSentComPort = 0;
  bool FSentTemperature = false;
  bool FSentTrusted = true;
  bool FSentReverse = false;
  QString FSentDevice;
  QString FSentProblem;
  bool FSentRunning = false;
  bool FSentHeld = false;
  int FSentLastMove = 0;
  QString FSentFault;
  TTravelLimits FSentLimits;
  int FSentScale = DefaultPositionScale;
  TCompensationSettings FSentCompensation;
  bool FBusRun = false;  // the run that runs was started over the bus
  QString FRunCaller;    // its caller's unique name; empty for a caller in this process
  QTimer FRunTimer;
  std::unique_ptr<QDBusServiceWatcher> FRunCallerWatcher;
  // The callers holding compensation, released when they leave the bus.
  std::unique_ptr<QDBusServiceWatcher> FHoldWatcher;
  QElapsedTimer FSincePosition;
  QTimer FPositionTimer;
};

}  // namespace morvane
