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

uint64_t PackLines(const TModemCounts& c) {
  return static_cast<uint64_t>(static_cast<uint32_t>(c.Cts)) << 32 | static_cast<uint32_t>(c.Dsr);
}

TModemCounts UnpackLines(uint64_t v) {
  return {static_cast<int>(static_cast<uint32_t>(v >> 32)),
          static_cast<int>(static_cast<uint32_t>(v))};
}
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
  FEdgeDrive.store(static_cast<uint64_t>(++FDriveSerial) << 1 | (dir != 0 ? 1 : 0));
  if (dir != 0 && FStallWatch) FStallWatch->Wake();
}

void TFocusControl::NoteRate(bool fast) {
  std::lock_guard lock(FStallLock);
  FFastRate = fast;
}

void TFocusControl::NotePauseEnd() {
  FResumedUs.store(MonotonicMicros());
  std::lock_guard lock(FStallLock);
  // The shaft may have rocked on an edge while held: the edge check starts afresh.
  FEdgeDrive.store(static_cast<uint64_t>(++FDriveSerial) << 1 | (FDriveDir != 0 ? 1 : 0));
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
  in.LinesMovedUs = FLinesMovedUs.load();
  in.NowUs = MonotonicMicros();
  const TStallRule rule(params);
  const TStallVerdict verdict = rule.Judge(in);
  if (!verdict.Stalled) return verdict;
  // The count stands still, but the counting thread may only be waiting for a processor on a
  // busy machine: the port's counters go on counting the lines meanwhile.
  const std::shared_ptr<TSerialPort> port = FPortHandle.load();
  TModemCounts now;
  uint32_t status = 0;
  if (!port || !port->GetCommCounts(now, status)) return verdict;
  const TModemCounts looked = UnpackLines(FLookedLines.exchange(PackLines(now)));
  if (!TStallRule::LinesMoved(now, UnpackLines(FCountedLines.load()), looked)) return verdict;
  in.LinesMovedUs = in.NowUs;
  FLinesMovedUs.store(in.NowUs);
  return rule.Judge(in);
}

void TFocusControl::NoteLineCounts(const TModemCounts& counts) {
  FCountedLines.store(PackLines(counts), std::memory_order_relaxed);
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
