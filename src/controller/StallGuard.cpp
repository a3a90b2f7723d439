// The stall guard's members of TFocusControl: what the drive commands and the counting
// thread tell it, the watch thread's life, and the stop on a stall.

#include <algorithm>
#include <cmath>

#include "controller/Objects.h"
#include "controller/StallWatchThread.h"
#include "platform/Signals.h"

namespace morvane {

namespace {
// The handset's rates of the factory motor in codes per second: the expected time between
// codes before a run has shown its own. A slower motor is judged by what it is seen to do.
constexpr double SlowRateCodesPerSecond = 300;
constexpr double FastRateCodesPerSecond = 1200;
}  // namespace

void TFocusControl::SetStallTime(double seconds) {
  if (!(seconds > 0)) seconds = FactoryStallTime;
  seconds = std::clamp(seconds, ShortestStallTime, LongestStallTime);
  FStallFloorUs.store(static_cast<int64_t>(std::llround(seconds * 1e6)));
}

std::string TFocusControl::LastFault() const {
  std::lock_guard lock(FStallLock);
  return FLastFault;
}

void TFocusControl::ClearLastFault() {
  std::lock_guard lock(FStallLock);
  FLastFault.clear();
}

void TFocusControl::NoteDrive(int dir) {
  std::lock_guard lock(FStallLock);
  if (dir == FDriveDir) return;
  // A reversal is a new start: the motor stops, takes up its play and spins up again.
  FDriveDir = dir;
  FDriveSinceUs = MonotonicMicros();
  if (dir != 0 && FStallWatch) FStallWatch->Wake();
}

void TFocusControl::NoteRate(bool fast) {
  std::lock_guard lock(FStallLock);
  FFastRate = fast;
}

void TFocusControl::NotePauseEnd() {
  FResumedUs.store(MonotonicMicros());
  std::lock_guard lock(FStallLock);
  if (FStallWatch) FStallWatch->Wake();
}

void TFocusControl::NoteEncoderChange(uint32_t changes) {
  if (changes == 0) return;
  const int64_t now = MonotonicMicros();
  const int64_t last = FEncoderChangedUs.exchange(now);
  // Changes merged into one wake-up share its time evenly.
  FEncoderIntervalUs.store(last > 0 ? (now - last) / changes : 0);
}

void TFocusControl::StartStallWatch() {
  std::lock_guard lock(FStallLock);
  FDriveDir = 0;
  if (!FStallWatch) FStallWatch = std::make_unique<TStallWatchThread>(*this);
}

void TFocusControl::StopStallWatch() {
  std::unique_ptr<TStallWatchThread> watch;
  {
    std::lock_guard lock(FStallLock);
    watch = std::move(FStallWatch);
  }
  // Joined outside the lock: the thread takes it to judge.
  if (watch) watch->Stop();
}

TStallVerdict TFocusControl::JudgeStall() {
  TStallParams params;
  TStallInput in;
  {
    std::lock_guard lock(FStallLock);
    in.DriveOn = FDriveDir != 0;
    in.DriveSinceUs = FDriveSinceUs;
    params.CodesPerSecond =
        FFastRate && !FUseRTS_DTR.load() ? FastRateCodesPerSecond : SlowRateCodesPerSecond;
  }
  params.FloorUs = FStallFloorUs.load();
  in.Paused = FInterruptsOff.load();
  in.ResumedUs = FResumedUs.load();
  in.LastChangeUs = FEncoderChangedUs.load();
  in.LastIntervalUs = FEncoderIntervalUs.load();
  in.NowUs = MonotonicMicros();
  return TStallRule(params).Judge(in);
}

void TFocusControl::StopStalled(int64_t limitUs) {
  if (FTravelSearch.load()) {
    // Find Travel runs into the end stops on purpose: the stall is its answer, no fault.
    {
      std::lock_guard drive(FDriveLock);
      SendFocusCommand(":FQ#");
      SendFocusCommand(":FQ#");
      ClearRTS();
    }
    FStallCount.fetch_add(1);
    return;
  }
  const std::string text = StallFaultText(FCTSCount.load(), limitUs);
  {
    std::lock_guard lock(FStallLock);
    FLastFault = text;
  }
  FStallCount.fetch_add(1);
  LogLine(text);
  // Told first, so that whoever learns of the move's end finds the fault already there.
  if (OnStallFault) OnStallFault(this, text);
  // Once the cancel has returned no drive of the move goes out; its threads end it as a
  // Stop would: one idle report, "GENERAL_DELAY_EVENT" set.
  bool moving;
  {
    std::lock_guard lock(FMoveLock);
    moving = FSuccessorPending || !FThreads.Running().empty();
  }
  if (moving) SetCancelMovementFlag(true);
  // Whole, against a new run's drive: a run started meanwhile goes out after the stop, not
  // between its commands, and is watched afresh.
  std::lock_guard drive(FDriveLock);
  FCoarseDrive.store(false);
  SendFocusCommand(":FQ#");
  SendFocusCommand(":FQ#");
  ClearRTS();
}

}  // namespace morvane
