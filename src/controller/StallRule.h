#pragma once
// The stall guard's decision, without clock or thread: is a driven motor whose encoder has
// not changed for a while stalled (an end stop, a jam, a pulled encoder cable), and when to
// look again. The watch thread (StallWatchThread) feeds it the drive and encoder times.

#include <cstdint>
#include <limits>
#include <string>

#include "platform/SerialPort.h"

namespace morvane {

// [FocusControl] StallTime in seconds. The factory motor turns a code in 3 ms at its slow
// rate and spins up in 50 ms: half a second without a change is no healthy run. Below the
// shortest a healthy motor read through a slow USB adapter could be stopped between two
// codes; beyond the longest a motor at a stop strains too long.
inline constexpr double FactoryStallTime = 0.5;
inline constexpr double ShortestStallTime = 0.1;
inline constexpr double LongestStallTime = 10.0;

// What the guard knows of the motor, all times in microseconds.
struct TStallParams {
  // The shortest time without a change that counts as a stall: [FocusControl] StallTime.
  int64_t FloorUs = static_cast<int64_t>(FactoryStallTime * 1e6);
  // Allowed on top before the first change of a drive, and after a pause or a reversal:
  // the motor's spin-up, its breakaway and the play it takes up before the shaft turns.
  int64_t StartAllowanceUs = 250'000;
  // The commanded speed in codes per second (0: unknown): the expected time between codes.
  double CodesPerSecond = 0;
  // How many times the time between codes passes without a change before it is a stall,
  // where that, and not the floor, is the longer.
  int32_t Intervals = 16;
  // However slow the motor was seen to turn, it is stopped after this long without a change.
  int64_t CeilingUs = 10'000'000;
};

struct TStallInput {
  bool DriveOn = false;
  // A pause of the camera interlock (interrupts off): the drive is held, not stalled.
  bool Paused = false;
  int64_t NowUs = 0;
  // When the drive last went on, or changed direction.
  int64_t DriveSinceUs = 0;
  // When the last pause ended (0: none during this drive).
  int64_t ResumedUs = 0;
  // When the encoder last changed, and the time between its last two changes (0: unknown).
  int64_t LastChangeUs = 0;
  int64_t LastIntervalUs = 0;
  // When the guard last found the port's line counters moved on past what the counting
  // thread has read (0: never): the shaft turns while the counting thread waits for a
  // processor. It shows the motor turning, but not how fast.
  int64_t LinesMovedUs = 0;
};

struct TStallVerdict {
  static constexpr int64_t Never = std::numeric_limits<int64_t>::max();
  bool Stalled = false;
  // When the verdict may change if nothing else does; Never while no drive is watched.
  int64_t CheckAtUs = Never;
  // The time without a change that this drive is allowed (for the fault's text).
  int64_t LimitUs = 0;
};

class TStallRule {
 public:
  explicit TStallRule(const TStallParams& params) : FParams(params) {}
  // The time without a change allowed once the motor turns.
  int64_t Limit(int64_t lastIntervalUs) const;
  TStallVerdict Judge(const TStallInput& in) const;
  // Before a stall is called: the port's counters read now have moved on both from those the
  // counting thread read last and from those the guard read at its last look.
  static bool LinesMoved(const TModemCounts& now, const TModemCounts& counted,
                         const TModemCounts& looked);

 private:
  TStallParams FParams;
};

// "Stopped at 20480: no encoder change for 0.5 s, an end stop or the encoder".
std::string StallFaultText(int32_t count, int64_t limitUs);

}  // namespace morvane
