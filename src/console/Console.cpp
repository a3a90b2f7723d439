#include "console/Console.h"

#include <cstring>
#include <utility>

#include "console/CountHandOver.h"
#include "console/TempCompDriver.h"
#include "platform/PosixSerialPort.h"
#include "settings/Devices.h"

namespace morvane {

TConsole::TConsole(TFocusControl& control, std::string iniPath, QObject* parent)
    : QObject(parent),
      FControl(control),
      FIniPath(std::move(iniPath)),
      FCountHandOver(std::make_unique<TCountHandOver>(
          [this](int32_t count, bool outward) { ShowCount(count, outward); })),
      FTempComp(std::make_unique<TTempCompDriver>(control)) {}

TConsole::~TConsole() = default;

void TConsole::RaiseCount(int32_t count, bool outward) {
  FCountHandOver->Raise(count, outward);
}

void TConsole::FlushCount() {
  FCountHandOver->Flush();
}

TCompensationSettings TConsole::Compensation() {
  return FTempComp->Settings();
}

void TConsole::HoldCompensation(const std::string& holder) {
  FTempComp->Hold(holder);
}

void TConsole::ReleaseCompensation(const std::string& holder) {
  FTempComp->Release(holder);
}

bool TConsole::CompensationHeld() {
  return FTempComp->Held();
}

int32_t TConsole::LastCompensationMove() {
  return FTempComp->LastMove();
}

// The controller's Idle, read without recording it: the controller raises an idle change only
// when it differs from the last value read, so a read from here between a motion thread's
// change and its report would swallow the report, and the console (and every program that
// follows it) would never learn that the move ended.
bool TConsole::Idle() {
  return FControl.RunIdle.load() && FControl.NudgeIdle.load();
}

std::string TConsole::LastFault() {
  return FControl.LastFault();
}

bool TConsole::PortOpen() {
  return FControl.PortOpen();
}

int32_t TConsole::ComPort() {
  return FControl.ComPort();
}

std::string TConsole::PortDevice() {
  return PortDeviceFor(FControl.ComPort());
}

std::string TConsole::PortDeviceFor(int n) const {
  return FPortNamer ? FPortNamer(n) : DevicePathForPort(FIniPath, n);
}

std::string TConsole::PortProblem() {
  if (FControl.PortOpen()) return {};
  const int error = FControl.LastOpenError();
  if (error == 0) return "not opened";
  return QString::fromLocal8Bit(std::strerror(error)).toStdString() + ": " +
         PortOpenAdvice(error, PortDevice());
}

void TConsole::SetPortNamer(std::function<std::string(int)> namer) {
  FPortNamer = std::move(namer);
  emit StatusChanged();
}

// The module's last answer; asking again would be an exchange on the line.
bool TConsole::TemperatureAvailable() {
  return FControl.LastTCAvail();
}

bool TConsole::ReadTemperature(double& celsius) {
  if (FProbed && !FControl.LastTCAvail()) return false;
  FProbed = true;
  // Asks the module whether it is there first; a sample for the temperature panel's average.
  celsius = FControl.GetTemperature();
  return FControl.LastTCAvail();
}

QString TConsole::StatusText() const {
  return !FStatusNote.isEmpty()     ? FStatusNote
         : !FPositionNote.isEmpty() ? FPositionNote
                                    : FBusProblem;
}

void TConsole::ShowCount(int32_t count, bool outward) {
  FPosition = count;
  FOutward = outward;
  emit CountChanged(count, outward);
}

void TConsole::ShowIdle(bool idle) {
  FShownIdle = idle;
  emit IdleChanged(idle);
}

void TConsole::SetRunning(bool running) {
  if (running == FRunning) return;
  FRunning = running;
  emit RunningChanged(running);
}

void TConsole::SetTrusted(bool trusted, const QString& note) {
  const bool changed = trusted != FTrusted || note != FPositionNote;
  FTrusted = trusted;
  FPositionNote = trusted ? QString() : note;
  if (!changed) return;
  emit TrustedChanged(trusted);
  emit StatusChanged();
}

void TConsole::SetStatusNote(const QString& note) {
  FStatusNote = note;
  emit StatusChanged();
}

void TConsole::SetBusProblem(const QString& problem) {
  FBusProblem = problem;
  emit StatusChanged();
}

}  // namespace morvane
