#pragma once
// The arithmetic of the nudges that land a move: how long each pulse drives and how long the
// motor rests after it, from the distance left and what earlier pulses did, and when the
// nudges end. No clock and no thread: the nudge thread drives, sleeps and reads the count,
// and tells the planner the counts before and after each pass.

#include <cstdint>

namespace morvane {

// The Setup's nudge values (seconds) and the drive mode, as they stand at a pass.
struct TNudgeSettings {
  double NudgeTime = 0.015;
  double CloseNudgeTime = 0.01;
  double NudgeSleep = 0.08;
  bool Direct = false;  // RTS/DTR lines; otherwise LX-200 commands
};

// What the nudges learnt of the motor's answer to a pulse: Moved codes for a pulse of
// PulseMs; StillMs, a pulse too short to move it (0: none found).
struct TNudgeLearnt {
  int64_t Moved = 0;
  double PulseMs = 0;
  double StillMs = 0;
};

struct TNudgePass {
  uint32_t PulseMs;
  uint32_t PauseMs;  // after the pulse, before the count is read
};

enum class TNudgeVerdict {
  nvPulse,      // another pass
  nvLanded,     // on the target or past it
  nvNotMoving,  // pulses of the longest length leave the count where it is
  nvMovedAway,  // the count runs away from the target: driven the wrong way
};

class TNudgePlanner {
 public:
  // Start: the count at rest when the nudges begin; they drive toward Target from there
  // (downwards when they start on it). Reversing: the motor last turned the other way, so
  // that play between it and the encoder is taken up first.
  TNudgePlanner(int32_t target, int32_t start, const TNudgeLearnt& learnt, bool reversing);

  bool Up() const { return FUp; }
  // The pass to make from count.
  TNudgePass Next(int32_t count, const TNudgeSettings& s);
  // After the pass last planned: the counts before and after it; drove, false when the
  // pulse did not go out (a pause) or the pass was cut short by a cancel.
  TNudgeVerdict Passed(int32_t before, int32_t after, bool drove);
  // What to keep for the next move; Forget() after nvNotMoving.
  TNudgeLearnt Learnt() const;
  bool Forget() const { return FForget; }

 private:
  int64_t Distance(int32_t count) const;
  double PulseMs(int64_t d, const TNudgeSettings& s) const;
  // Codes a pulse of this length carries the motor, going by the last pass that moved it;
  // 0 when none has.
  double Travel(double pulseMs) const;

  const int32_t FTarget;
  const bool FUp;
  const int64_t FStartDistance;
  double FStillMs;      // the longest pulse that left the count where it was
  int64_t FLastMoved;   // codes the last pass that moved the count moved it ...
  double FLastPulseMs;  // ... with a pulse this long
  int FStillAtLongest = 0;
  int FStillPasses = 0;  // passes in a row that left the count alone
  // Codes the motor should have turned, by the last moving pass, in the still passes before
  // the first that moved the count: play between it and the encoder being taken up.
  const bool FReversing;
  bool FMovedYet = false;
  double FUnseenCodes = 0;
  double FDeadMs = 0;     // of the drive: a command's time on the wire
  uint32_t FPulseMs = 0;  // of the pass last planned
  double FLongestMs = 0;
  bool FForget = false;
};

}  // namespace morvane
