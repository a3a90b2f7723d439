#pragma once
// TConsole: the focusing console's state as values, below the window that shows it. The
// window's handlers tell it what happened (a count shown, an idle change, a run, a note) and
// show what it raises; the bus asks it, and it answers from these values, never from a widget.
// GUI thread only. The actions that still need the window (the voice, the dialogs) are left to
// the window's subclass.

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "controller/Objects.h"
#include "ui/bus/ConsoleActions.h"

namespace morvane {

class TCountHandOver;
class TTempCompDriver;

class TConsole : public QObject, public TConsoleActions {
  Q_OBJECT

 public:
  // control: the window's controller, which outlives the console. iniPath: the settings file
  // whose [Devices] names the ports.
  TConsole(TFocusControl& control, std::string iniPath, QObject* parent = nullptr);
  ~TConsole() override;

  // The count the readout shows, and the direction lights' DSR value with it.
  int32_t ShownPosition() override { return FPosition; }
  bool ShownOutward() const { return FOutward; }
  bool Idle() override;
  bool ShownIdle() override { return FShownIdle; }
  bool Running() override { return FRunning; }
  bool PositionTrusted() override { return FTrusted; }
  std::string LastFault() override;

  // The port: its number, the device behind it, whether it is open and why not.
  bool PortOpen() override;
  int32_t ComPort() override;
  std::string PortDevice() override;
  std::string PortProblem() override;
  // What port number n stands for.
  std::string PortDeviceFor(int n) const;
  // namer: what a port number stands for; by default the settings file's [Devices] entry.
  void SetPortNamer(std::function<std::string(int)> namer);

  bool TemperatureAvailable() override;
  bool ReadTemperature(double& celsius) override;

  // The status line's second row: the last note (an error or how a move ended), else why the
  // position is not trusted, else why other programs cannot reach this window.
  QString StatusNote() const { return FStatusNote; }
  QString PositionNote() const { return FPositionNote; }
  QString BusProblem() const { return FBusProblem; }
  QString StatusText() const;

  // A count change from any thread (the counting thread's, or the GUI thread's at a reset):
  // shown through the count hand-over, coalesced, on the GUI thread.
  void RaiseCount(int32_t count, bool outward);
  // Shows a count change still pending now: handlers of later events call it first, so that
  // their effects follow those of the count changes raised before them.
  void FlushCount();
  TCountHandOver& CountHandOver() { return *FCountHandOver; }

  // Backlash and temperature compensation: the driver that reads the module while idle and
  // unheld and moves for a temperature change.
  TTempCompDriver& TempComp() { return *FTempComp; }
  TCompensationSettings Compensation() override;
  void HoldCompensation(const std::string& holder) override;
  void ReleaseCompensation(const std::string& holder) override;
  bool CompensationHeld() override;
  int32_t LastCompensationMove() override;

  // What happened, as the window's handlers learn it; each raises its change.
  void ShowCount(int32_t count, bool outward);
  void ShowIdle(bool idle);
  void SetRunning(bool running);
  // trusted false: note says why, and is shown until trusted again.
  void SetTrusted(bool trusted, const QString& note = QString());
  void SetStatusNote(const QString& note);
  void SetBusProblem(const QString& problem);

 signals:
  void CountChanged(int32_t count, bool outward);
  void IdleChanged(bool idle);
  void RunningChanged(bool running);
  void TrustedChanged(bool trusted);
  // A text of the status line, or the port's state, may have changed.
  void StatusChanged();

 protected:
  TFocusControl& Control() { return FControl; }

 private:
  TFocusControl& FControl;
  std::string FIniPath;
  std::function<std::string(int)> FPortNamer;
  int32_t FPosition = 0;
  bool FOutward = false;
  bool FShownIdle = true;
  bool FRunning = false;
  bool FTrusted = true;
  bool FProbed = false;
  QString FStatusNote;
  QString FPositionNote;
  QString FBusProblem;
  std::unique_ptr<TCountHandOver> FCountHandOver;
  std::unique_ptr<TTempCompDriver> FTempComp;
};

}  // namespace morvane
