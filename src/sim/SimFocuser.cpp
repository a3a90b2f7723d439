#include "sim/SimFocuser.h"

#include <sys/prctl.h>

#include <algorithm>
#include <cmath>
#include <utility>

namespace morvane::sim {

namespace {
// How far ahead the physics thread looks for the next edge while the motor turns too
// slowly for one; it wakes once per horizon to look again.
constexpr double SearchHorizon = 0.25;
// Seconds per character at 10 bits per character.
double CharTime(const TSimParams& params) {
  return std::max(params.CharTimeUs, 0) / 1e6;
}
}  // namespace

TSimFocuser::TSimFocuser(const TSimParams& params, TRestHandler onRest)
    : FParams(params),
      FOnRest(std::move(onRest)),
      FEpoch(TClock::now()),
      FCharTime(CharTime(params)),
      FTrace(params.TraceLimit),
      FMotor(params, 0.0),
      FModule(params, 0.0),
      FFast(params.StartFast),
      FReaderDelayUs(params.ReaderDelayUs),
      FMerge(params.MergeEdges) {
  FMotor.PlaceShaft(0.0, std::isfinite(params.StartShaft) ? params.StartShaft : 0.125);
  StartEncoderAt(FMotor.Shaft());
  FToldShaft = FMotor.Shaft();
  FSettings.DCBlength = 28;
  FSettings.BaudRate = 9600;
  FSettings.Flags = fBinary;
  FSettings.XonLim = 2048;
  FSettings.XoffLim = 512;
  FSettings.ByteSize = 8;
  FSettings.XonChar = 0x11;
  FSettings.XoffChar = 0x13;
  FThread = std::thread(&TSimFocuser::Run, this);
}

TSimFocuser::~TSimFocuser() {
  {
    std::lock_guard lock(FLock);
    FStop = true;
  }
  FWake.notify_all();
  FThread.join();
  if (!FOnRest) return;
  double shaft;
  {
    std::lock_guard lock(FLock);
    CatchUp(Now());
    shaft = FMotor.Shaft();
  }
  if (shaft != FToldShaft) FOnRest(shaft);
}

double TSimFocuser::Now() const {
  return std::chrono::duration<double>(TClock::now() - FEpoch).count();
}

TSimFocuser::TClock::time_point TSimFocuser::ToTimePoint(double t) const {
  // Rounded up, so that a wake at the time point never comes before the event.
  return FEpoch + std::chrono::ceil<TClock::duration>(std::chrono::duration<double>(t));
}

int64_t TSimFocuser::ToUs(TClock::time_point tp) {
  return std::chrono::duration_cast<std::chrono::microseconds>(tp.time_since_epoch()).count();
}

void TSimFocuser::AddTrace(TTraceKind kind, char line, bool level, uint32_t value,
                           std::string bytes) {
  TTraceEntry e;
  e.Us = ToUs(TClock::now());
  e.Kind = kind;
  e.Bytes = std::move(bytes);
  e.Line = line;
  e.Level = level;
  e.Position = FCount;
  e.Value = value;
  FTrace.Add(std::move(e));
}

void TSimFocuser::Run() {
  // Timer slack would let every wake come up to 50 us late.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  TLock lock(FLock);
  while (!FStop) {
    const double now = Now();
    CatchUp(now);
    if (FOnRest && FMotor.Settled() && FMotor.Shaft() != FToldShaft) {
      // At rest nothing is due, so the handler's file write delays no edge.
      FToldShaft = FMotor.Shaft();
      const double shaft = FToldShaft;
      lock.unlock();
      FOnRest(shaft);
      lock.lock();
      continue;
    }
    const double next = NextDeadline(now);
    if (next == TSimMotor::Never) {
      FWake.wait(lock);
    } else {
      FWake.wait_until(lock, ToTimePoint(next));
    }
  }
}

void TSimFocuser::Jam(double atCodes) {
  std::lock_guard lock(FLock);
  const double now = Now();
  CatchUp(now);
  FMotor.JamAt(now, atCodes);
  FWake.notify_one();
}

void TSimFocuser::Unjam() {
  std::lock_guard lock(FLock);
  const double now = Now();
  CatchUp(now);
  FMotor.Free(now);
  FWake.notify_one();
}

void TSimFocuser::CatchUp(double now) {
  std::string arrived;
  for (;;) {
    const double tTx = FToDevice.empty() ? TSimMotor::Never : FToDevice.front().T;
    const double tRx = FToPort.empty() ? TSimMotor::Never : FToPort.front().T;
    const double tByte = std::min(tTx, tRx);
    const double tMotor = FMotor.NextEvent(QuarterLow(), QuarterHigh(), std::min(now, tByte));
    if (tMotor <= now && tMotor <= tByte) {
      AdvanceMotor(tMotor);
      continue;
    }
    if (tByte > now) break;
    AdvanceMotor(tByte);
    if (tTx <= tRx) {
      const char c = FToDevice.front().C;
      FToDevice.pop_front();
      ReceiveFromLine(tTx, c);
    } else {
      const char c = FToPort.front().C;
      FToPort.pop_front();
      if (FSession != 0) {
        arrived.push_back(c);
        DeliverInput(std::string(1, c));
      }
    }
  }
  AdvanceMotor(std::max(now, FMotor.Time()));
  if (Adapter()) AdapterReport(now);
  if (!arrived.empty()) AddTrace(TTraceKind::Input, 0, false, 0, std::move(arrived));
}

double TSimFocuser::NextDeadline(double now) const {
  double next = std::min(FToDevice.empty() ? TSimMotor::Never : FToDevice.front().T,
                         FToPort.empty() ? TSimMotor::Never : FToPort.front().T);
  const double horizon = now + SearchHorizon;
  double motor = FMotor.NextEvent(QuarterLow(), QuarterHigh(), horizon);
  if (motor == TSimMotor::Never && !FMotor.Settled()) motor = horizon;
  // An adapter sends a change with its first report after it.
  if (Adapter() && (FSeenCts != FCts || FSeenDsr != FDsr))
    next = std::min(next, (std::floor(FLastEdgeAt / AdapterInterval()) + 1) * AdapterInterval());
  return std::min(next, motor);
}

void TSimFocuser::ReceiveFromLine(double t, char c) {
  if (auto command = FHandset.Receive(c)) {
    switch (*command) {
      case THandsetCommand::DriveUp:
        FCommandDir = 1;
        break;
      case THandsetCommand::DriveDown:
        FCommandDir = -1;
        break;
      case THandsetCommand::Stop:
        FCommandDir = 0;
        break;
      case THandsetCommand::Slow:
        FFast = false;
        break;
      case THandsetCommand::Fast:
        FFast = true;
        break;
    }
    ApplyDrive(t);
  }
  if (auto request = FModule.Receive(c)) {
    if (auto reply = FModule.Answer(*request, t)) {
      // The reply shares one wire: it queues behind any reply still being sent.
      double at = std::max(t + reply->Delay, FRxFreeAt);
      for (char r : reply->Text) {
        at += FCharTime;
        FToPort.push_back({at, r});
      }
      FRxFreeAt = at;
    }
  }
}

void TSimFocuser::ApplyDrive(double t) {
  int dir;
  double speed;
  if (FRts) {
    dir = FDtr ? 1 : -1;
    speed = FParams.DirectSpeed;
  } else {
    dir = FCommandDir;
    speed = FFast ? FParams.FastSpeed : FParams.SlowSpeed;
  }
  AdvanceMotor(t);
  FMotor.SetDrive(t, dir, speed);
  FWake.notify_one();
}

void TSimFocuser::DeliverInput(const std::string& bytes) {
  // The input buffer of a Windows serial driver holds 4096 bytes; more are lost.
  constexpr size_t InputCapacity = 4096;
  for (char c : bytes) {
    if (c == '\0' && (FSettings.Flags & fNull)) continue;
    if (FInput.size() < InputCapacity) FInput.push_back(c);
  }
  FPortCv.notify_all();
}

int32_t TSimFocuser::Position() const {
  std::lock_guard lock(FLock);
  return FCount;
}

int32_t TSimFocuser::DualPosition() const {
  std::lock_guard lock(FLock);
  return FDualCount;
}

double TSimFocuser::ShaftPosition() const {
  std::lock_guard lock(FLock);
  TSimMotor motor = FMotor;
  motor.AdvanceTo(std::max(Now(), motor.Time()));
  return motor.Shaft();
}

double TSimFocuser::TubePosition() const {
  std::lock_guard lock(FLock);
  TSimMotor motor = FMotor;
  motor.AdvanceTo(std::max(Now(), motor.Time()));
  return motor.Tube();
}

double TSimFocuser::Speed() const {
  std::lock_guard lock(FLock);
  TSimMotor motor = FMotor;
  motor.AdvanceTo(std::max(Now(), motor.Time()));
  return motor.Velocity();
}

bool TSimFocuser::Moving() const {
  return Speed() != 0;
}

bool TSimFocuser::CTS() const {
  std::lock_guard lock(FLock);
  return FCts;
}

bool TSimFocuser::DSR() const {
  std::lock_guard lock(FLock);
  return FDsr;
}

bool TSimFocuser::RTS() const {
  std::lock_guard lock(FLock);
  return FRts;
}

bool TSimFocuser::DTR() const {
  std::lock_guard lock(FLock);
  return FDtr;
}

std::vector<TTraceEntry> TSimFocuser::Trace() const {
  return FTrace.Copy();
}

void TSimFocuser::ClearTrace() {
  FTrace.Clear();
}

void TSimFocuser::SetModuleMode(TModuleMode mode) {
  std::lock_guard lock(FLock);
  FModule.SetMode(mode);
}

void TSimFocuser::SetTemperature(double celsius) {
  std::lock_guard lock(FLock);
  FModule.SetTemperature(celsius, Now());
}

double TSimFocuser::ModuleTemperature() const {
  std::lock_guard lock(FLock);
  return FModule.Temperature(Now());
}

int32_t TSimFocuser::ModuleCal() const {
  std::lock_guard lock(FLock);
  return FModule.Cal();
}

void TSimFocuser::SetModuleCal(int32_t value) {
  std::lock_guard lock(FLock);
  FModule.SetCal(value);
}

void TSimFocuser::SetNextModuleReply(const std::string& reply) {
  std::lock_guard lock(FLock);
  FModule.SetNextReply(reply);
}

void TSimFocuser::InjectInput(const std::string& bytes) {
  std::lock_guard lock(FLock);
  CatchUp(Now());
  if (FSession == 0) return;
  DeliverInput(bytes);
  AddTrace(TTraceKind::Input, 0, false, 0, bytes);
}

}  // namespace morvane::sim
