// The encoder side of the simulated focuser: quadrature lines from the shaft angle, the
// reference count, modem events for the port, and turning the shaft by hand.

#include <sys/prctl.h>
#include <time.h>
#include <algorithm>

#include <cmath>

#include "sim/SimFocuser.h"

namespace morvane::sim {

namespace {

// Quarter cycles in the direction of rising codes, (CTS, DSR): (0,0) (1,0) (1,1) (0,1).
int Phase(int64_t quarter) {
  return static_cast<int>(((quarter % 4) + 4) % 4);
}
bool PhaseCts(int phase) {
  return phase == 1 || phase == 2;
}
bool PhaseDsr(int phase) {
  return phase == 2 || phase == 3;
}

// Sleeps until the deadline and spins for the last stretch: a sleep alone may end tens of
// microseconds late, too coarse for edges a few microseconds apart.
void WaitUntil(std::chrono::steady_clock::time_point deadline) {
  constexpr auto Spin = std::chrono::microseconds(80);
  const auto wake = deadline - Spin;
  if (std::chrono::steady_clock::now() < wake) {
    const auto ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(wake.time_since_epoch()).count();
    timespec ts{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) != 0) {
    }
  }
  while (std::chrono::steady_clock::now() < deadline) {
  }
}

}  // namespace

double TSimFocuser::QuarterLow() const {
  return FDeadEncoder ? -TSimMotor::Never : FOffset + static_cast<double>(FQuarter) / 4;
}

double TSimFocuser::QuarterHigh() const {
  return FDeadEncoder ? TSimMotor::Never : FOffset + static_cast<double>(FQuarter + 1) / 4;
}

void TSimFocuser::AdvanceMotor(double t) {
  FMotor.AdvanceTo(t);
  SyncEncoder();
}

void TSimFocuser::SyncEncoder() {
  if (FDeadEncoder) return;
  const double x = FMotor.Shaft();
  while (x >= QuarterHigh()) StepEncoder(FQuarter + 1);
  while (x < QuarterLow()) StepEncoder(FQuarter - 1);
}

void TSimFocuser::StartEncoderAt(double x) {
  FQuarter = static_cast<int64_t>(std::floor(x * 4 - FOffset));
  const int phase = Phase(FQuarter);
  FSeenCts = FCts = PhaseCts(phase);
  FSeenDsr = FDsr = PhaseDsr(phase);
  // From quarter 0 a single-resolution reader counts where CTS rises with DSR low, once per
  // cycle: ceil(quarter / 4); a double-resolution one each CTS edge: floor((quarter + 1) / 2).
  FCount = static_cast<int32_t>((FQuarter + 3) >> 2);
  FDualCount = static_cast<int32_t>((FQuarter + 1) >> 1);
}

void TSimFocuser::StepEncoder(int64_t quarter) {
  FQuarter = quarter;
  const int phase = Phase(quarter);
  if (PhaseDsr(phase) != FDsr) SetEncoderLevel('S', PhaseDsr(phase));
  if (PhaseCts(phase) != FCts) SetEncoderLevel('C', PhaseCts(phase));
}

void TSimFocuser::SetEncoderLevel(char line, bool level) {
  const double t = FMotor.Time();
  // The adapter's reports before this change still see the levels before it.
  if (Adapter()) AdapterReport(t);
  if (line == 'C') {
    FCts = level;
    // One count per cycle, where CTS changes with DSR low, both ways (as the controller counts).
    if (!FDsr) FCount += level ? 1 : -1;
    FDualCount += (level == FDsr) ? -1 : 1;
  } else {
    FDsr = level;
  }
  FLastEdgeAt = t;
  AddTrace(TTraceKind::Edge, line, level);
  if (!Adapter()) {
    SeeLineChange(line == 'C' ? EV_CTS : EV_DSR);
  } else {
    FWake.notify_one();  // the physics thread sends the next report, even with the shaft still
  }
}

void TSimFocuser::SeeLineChange(uint32_t bit) {
  int& drop = bit == EV_CTS ? FDropCts : FDropDsr;
  if (bit == EV_CTS) {
    FSeenCts = FCts;
  } else {
    FSeenDsr = FDsr;
  }
  // A missed change: the level is there to read, but nothing counted or reported it.
  if (drop != 0) {
    if (drop > 0) --drop;
    return;
  }
  if (bit == EV_CTS) {
    ++FCounts.Cts;
  } else {
    ++FCounts.Dsr;
  }
  if (FSession == 0 || !(FMask & bit)) return;
  if (FMerge || Adapter()) {
    FPending |= bit;
  } else if (FEvents.size() < FParams.EdgeQueueLimit) {
    FEvents.push_back({bit, FSeenCts, FSeenDsr, FCounts});
  }
  FPortCv.notify_all();
}

void TSimFocuser::AdapterReport(double t) {
  const auto tick = static_cast<int64_t>(std::floor(t / AdapterInterval()));
  if (tick <= FAdapterTick) return;
  // Every report since the last one sees the levels as they are now: nothing changed between.
  FAdapterTick = tick;
  if (FSeenDsr != FDsr) SeeLineChange(EV_DSR);
  if (FSeenCts != FCts) SeeLineChange(EV_CTS);
}

void TSimFocuser::SetEncoderLines(bool cts, bool dsr) {
  std::lock_guard lock(FLock);
  const double now = Now();
  CatchUp(now);
  const int target = cts ? (dsr ? 2 : 1) : (dsr ? 3 : 0);
  const int delta = ((target - Phase(FQuarter)) + 4) % 4;
  if (delta == 0) return;
  FQuarter += delta == 3 ? -1 : delta;
  if (dsr != FDsr) SetEncoderLevel('S', dsr);
  if (cts != FCts) SetEncoderLevel('C', cts);
  if (!FDeadEncoder) FMotor.PlaceShaft(now, FOffset + (static_cast<double>(FQuarter) + 0.5) / 4);
  FWake.notify_one();
}

void TSimFocuser::SetDeadEncoder(bool dead) {
  std::lock_guard lock(FLock);
  CatchUp(Now());
  if (dead == FDeadEncoder) return;
  FDeadEncoder = dead;
  // Revived, the encoder counts on from the quarter cycle it stopped in.
  if (!dead) FOffset = FMotor.Shaft() - (static_cast<double>(FQuarter) + 0.5) / 4;
  FWake.notify_one();
}

void TSimFocuser::DropEdges(char line, int changes) {
  std::lock_guard lock(FLock);
  CatchUp(Now());
  (line == 'C' ? FDropCts : FDropDsr) = changes;
}

void TSimFocuser::SetReaderDelay(int us) {
  std::lock_guard lock(FLock);
  FReaderDelayUs = us;
}

void TSimFocuser::KeepEdges() {
  std::lock_guard lock(FLock);
  CatchUp(Now());
  FDropCts = FDropDsr = 0;
}

void TSimFocuser::SetMergeEdges(bool on) {
  std::lock_guard lock(FLock);
  if (on == FMerge) return;
  FMerge = on;
  if (on) {
    for (const TModemEvent& e : FEvents) FPending |= e.Bit;
    FEvents.clear();
    FSnapshot.reset();
  } else {
    for (uint32_t bit : {EV_CTS, EV_DSR})
      if (FPending & bit) FEvents.push_back({bit, FSeenCts, FSeenDsr, FCounts});
    FPending = 0;
  }
  FPortCv.notify_all();
}

void TSimFocuser::Turn(int codes, double edgeRateHz) {
  if (codes == 0 || !(edgeRateHz > 0)) return;
  const int dir = codes > 0 ? 1 : -1;
  const int64_t steps = 4 * static_cast<int64_t>(std::abs(codes));
  // Two CTS changes per code and as many DSR changes between them.
  const std::chrono::duration<double> interval(1.0 / (2 * edgeRateHz));
  const int oldSlack = prctl(PR_GET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL);
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  const auto step = std::chrono::duration_cast<TClock::duration>(interval);
  auto due = TClock::now();
  for (int64_t k = 0; k < steps; ++k) {
    WaitUntil(due);
    // A turn held up (this thread preempted) goes on at its rate from now: overdue changes
    // fired back to back would be faster than any encoder and lose counts no reader could keep.
    due = std::max(due, TClock::now() - step / 2) + step;
    std::lock_guard lock(FLock);
    const double now = Now();
    CatchUp(now);
    const double x = FDeadEncoder ? FMotor.Shaft() + dir * 0.25
                                  : FOffset + (static_cast<double>(FQuarter + dir) + 0.5) / 4;
    FMotor.PlaceShaft(now, x);
    SyncEncoder();
    // Turned by hand against a live drive, the motor takes over again.
    if (!FMotor.Settled()) FWake.notify_one();
  }
  if (oldSlack > 0) prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(oldSlack), 0UL, 0UL, 0UL);
}

}  // namespace morvane::sim
