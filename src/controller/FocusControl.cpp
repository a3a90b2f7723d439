#include <cmath>

#include "controller/CTSThread.h"
#include "controller/KeepAliveThread.h"
#include "controller/Objects.h"
#include "controller/StallWatchThread.h"
#include "platform/ProductTimings.h"
#include "platform/Signals.h"

namespace morvane {

TFocusControl::TFocusControl(TControllerHost& host, TPortOpener opener)
    : FHost(host), FOpener(std::move(opener)) {
  if (DiagnosticLogging) LogLine("In FocusControl Base Class constructor");
  // The hand-over between this controller's own threads: no other controller, in this
  // program or another, may set or consume it.
  FCTSEvent = std::make_unique<TEvent>(false, false, InstanceEventName("THE_CTS_EVENT"));
  GeneralDelayEvent().ResetEvent();
  if (DiagnosticLogging) LogLine("Focuser signalled objects created");
  Samples.reserve(10);
  FLife = std::make_shared<TLife>();
  if (TervixEnable.load()) FKeepAliveTimer = FHost.StartTimer(200, [this] { KeepAliveTick(); });
}

TFocusControl::~TFocusControl() {
  EnterLifeState(TLifeState::lsWindingDown);
  if (DiagnosticLogging) LogLine("In FocusControl Base Class destructor");
  SetCancelMovementFlag(true);
  // A running move sees the cancel at its next check and stops the motor itself; the threads
  // are ended only after that, or after the settle time when one does not come back.
  constexpr uint32_t IdlePollMs = 10;
  for (uint32_t waited = 0; FThreads.AnyRunning() && waited < ProductTimings().DestroySettleMs;
       waited += IdlePollMs)
    Sleep(IdlePollMs);
  if (FKeepAliveTimer >= 0) FHost.StopTimer(FKeepAliveTimer);
  // No message, next move or report from here: the program is going away.
  EnterLifeState(TLifeState::lsDismantling);
  CloseCountingThread();
  // Motion threads still running (a nudge loop whose encoder is dead, a wait for another
  // program) end at their next check; twice, for a move that a superseding MoveBy was just
  // starting.
  for (int round = 0; round < 2; ++round) {
    FThreads.TerminateAll();
    SignalMotion();
    FThreads.JoinAll();
  }
}

bool TFocusControl::GetIdle() {
  bool idle = RunIdle.load() && NudgeIdle.load();
  LastIdle.store(idle);
  return idle;
}

void TFocusControl::DoIdleChange() {
  bool before = LastIdle.load();
  bool now = GetIdle();
  if (now != before && OnIdleChange) OnIdleChange(this, now);
}

void TFocusControl::DoCTSChange(int32_t Count, bool DSRValue) {
  if (OnCTSChange) OnCTSChange(this, Count, DSRValue);
}

void TFocusControl::DoAvailChange() {
  if (OnAvailChange) OnAvailChange(this, FLastTCAvail);
}

void TFocusControl::SetCancelMovementFlag(bool Value) {
  std::lock_guard lock(FMoveLock);
  // Nothing asked for before the cancel may start after it: a move waiting to supersede the
  // running one is dropped with it.
  if (Value) FSuccessorPending = false;
  // A Stop ends both legs of a compensated move.
  if (Value) FFinalLegPending = false;
  {
    // Once this returns, no drive of the cancelled move goes out.
    std::lock_guard drive(FDriveLock);
    FCancelMovementFlag.store(Value);
    EndMoveCancel.store(Value);
    NudgeCancel.store(Value);
    NudgeIdle.store(true);
    RunIdle.store(true);
  }
  // A paused move ends too.
  if (Value) ReleaseSuspendedThreads();
  SignalMotion();
}

void TFocusControl::CancelMovement() {
  SetCancelMovementFlag(true);
}

void TFocusControl::SetInterruptsOff(bool Value) {
  std::shared_ptr<TThread> nudge;
  {
    std::lock_guard lock(FMotionRefsLock);
    nudge = NudgeThread.lock();
  }
  if (Value) {
    {
      // The flag first, under the drive lock: a drive decided before it has gone out and is
      // cleared here; none decided after it goes out until the pause ends.
      std::lock_guard lock(FDriveLock);
      FInterruptsOff.store(true);
      ClearRTS();
    }
    if (!NudgeIdle.load() && nudge) nudge->Suspend();
  } else {
    if (!NudgeIdle.load() && nudge) nudge->Resume();
    FInterruptsOff.store(false);
    NotePauseEnd();
  }
  SignalMotion();
  Sleep(10);
  Paused.store(Value);
  SignalMotion();
}

// The write itself waits 20 ms before its purge: it is made on the keep-alive thread, so that
// the window does not stop five times a second.
void TFocusControl::KeepAliveTick() {
  if (!TervixEnable.load() || !FPortOpen.load()) return;
  std::lock_guard lock(FKeepAliveLock);
  // Between SetComPort and OpenPort there is no port to keep alive.
  if (!FPortHandle.load()) return;
  if (!FKeepAliveThread) FKeepAliveThread = std::make_unique<TKeepAliveThread>(*this);
  FKeepAliveThread->Wake();
}

void TFocusControl::WriteKeepAlive() {
  // A module exchange owns the line: skip the beat, as the timer's ticks waited while an
  // exchange held the GUI thread.
  std::unique_lock line(FLineLock, std::try_to_lock);
  if (!line.owns_lock()) return;
  if (!TervixEnable.load() || !FPortOpen.load()) return;
  auto port = FPortHandle.load();
  if (!port) return;
  // The purge would abort a command another thread is sending (an operator's stop among
  // them): skip the beat. A write that starts after this test is still in its own pause when
  // this purge and the one byte go out.
  if (FWritesInFlight.load() != 0) return;
  port->PurgeComm(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  port->Write("5", 1, 1000);
}

void TFocusControl::AddTemperatureSample(double Value) {
  if (!(Value > -99.0)) return;
  if (Samples.size() >= 10) Samples.erase(Samples.begin());
  Samples.push_back(TempData{Value});
  double sum = 0.0;
  for (const auto& s : Samples) sum += s.Temperature;
  FTCAvg.store(sum / static_cast<double>(Samples.size()));
}

void TFocusControl::ClearTemperatureSamples() {
  Samples.clear();
}

size_t TFocusControl::TemperatureSampleCount() const {
  return Samples.size();
}

TLifeState TFocusControl::LifeState() const {
  return FLife->State.load();
}

void TFocusControl::EnterLifeState(TLifeState state) {
  std::unique_lock lock(FLife->Lock);
  FLife->State.store(state);
  // A port-loss close under way on another thread ends before destruction goes on.
  FLife->CloseEnded.wait(lock, [this] { return !FLife->LossClosing; });
}

void TFocusControl::Synchronize(const std::string& text) {
  auto life = FLife;
  if (life->State.load() == TLifeState::lsDismantling) return;
  TControllerHost& host = FHost;
  FHost.Post([life, text, &host] {
    if (life->State.load() == TLifeState::lsDismantling) return;
    host.ShowMessage(text);
  });
}

}  // namespace morvane
