#include "motion/NudgePlanner.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "platform/Timing.h"

namespace morvane {

namespace {
constexpr int32_t CloseCodes = 2;  // within this distance pulses are short and pauses long

// The Setup's pulse lengths hold while they move the motor by about a code. A pulse that
// leaves the count where it was three passes running is lengthened by half: in command mode
// the command itself spends about 4 ms on the wire, and a motor that needs a little more to
// break away would otherwise never move. The longest pulse is the Setup's upper bound for the
// nudge times; a motor that two pulses of that length do not move is not moving at all, and
// the move ends with a message. A pulse that, going by the last pass, would carry a light
// motor more than a code past the target is shortened in proportion, down to what the drive
// can still deliver.
constexpr double LongestPulseMs = 100;
constexpr int StillPassesAtLongest = 2;
constexpr double Lengthening = 1.5;
constexpr int StillPassesBeforeLengthening = 3;
constexpr double ShortestDirectPulseMs = 2;
constexpr double CommandWireMs = 4;           // a command's four characters at 9600 baud
constexpr double ShortestCommandPulseMs = 6;  // the command on the wire, and 2 ms more

// Play between the motor and the encoder: after a reversal the motor turns this far, at
// most, before the count moves. Until the count first moves, a pulse that by the last moving
// pass should have turned the motor a code or more, and left the count alone, is taking up
// play: lengthened, it would carry the motor on past the target once the play is taken up.
// Beyond this much unseen travel the count's stillness is the motor's (a stiff motor), and
// the pulses are lengthened.
constexpr double PlayCodes = 8;

// A count that runs this far beyond where the nudges began, away from the target, is driven
// the wrong way: the move ends with a message rather than run on to the end stop.
constexpr int64_t AwayLimitCodes = 20;

// The Setup's times as the drive takes them: whole ms, from any value a settings file holds.
uint32_t Ms(double seconds) {
  return SecondsToMs(seconds);
}
}  // namespace

TNudgePlanner::TNudgePlanner(int32_t target, int32_t start, const TNudgeLearnt& learnt,
                             bool reversing)
    : FTarget(target),
      FUp(start < target),
      FStartDistance(std::abs(int64_t{start} - target)),
      FStillMs(learnt.StillMs),
      FLastMoved(learnt.Moved),
      FLastPulseMs(learnt.PulseMs),
      FReversing(reversing) {}

int64_t TNudgePlanner::Distance(int32_t count) const {
  return std::abs(int64_t{count} - FTarget);
}

double TNudgePlanner::Travel(double pulseMs) const {
  if (FLastMoved <= 0) return 0;
  const double r = std::max(pulseMs - FDeadMs, 0.0) / std::max(FLastPulseMs - FDeadMs, 1.0);
  return double(FLastMoved) * (r <= 1 ? r : r * r * r);
}

double TNudgePlanner::PulseMs(int64_t d, const TNudgeSettings& s) const {
  double ms = Ms(d > CloseCodes ? s.NudgeTime : s.CloseNudgeTime);
  if (FLastMoved > 0) {
    // Reckoned from the last pulse that moved the count, in proportion to the drive time
    // beyond the command's time on the wire for a shorter pulse and with its cube for a
    // longer one (a motor spinning up against friction, then coasting on what it reached):
    // either way this rates the pulse's travel high rather than low. Aimed at the target,
    // so that the scatter of the travel stays within a code past it.
    const double lastDrive = std::max(FLastPulseMs - FDeadMs, 1.0);
    // The last pulse that moved the motor this far carries it there already.
    if (FLastMoved >= d) ms = std::min(ms, FLastPulseMs);
    const double wanted = (double(d) + 0.5) / double(FLastMoved);  // the travel's share
    if (Travel(ms) > double(d) + 0.5)
      ms = FDeadMs + lastDrive * (wanted <= 1 ? wanted : std::cbrt(wanted));
  }
  ms = std::max(ms, FStillMs * Lengthening);
  const double shortest = s.Direct ? ShortestDirectPulseMs : ShortestCommandPulseMs;
  return std::clamp(ms, shortest, std::max(LongestPulseMs, double(Ms(s.NudgeTime))));
}

TNudgePass TNudgePlanner::Next(int32_t count, const TNudgeSettings& s) {
  const int64_t d = Distance(count);
  FDeadMs = s.Direct ? 0.0 : CommandWireMs;
  FLongestMs = std::max(LongestPulseMs, double(Ms(s.NudgeTime)));
  FPulseMs = static_cast<uint32_t>(std::lround(PulseMs(d, s)));
  // The close pause is longer by the ratio of the two pulse lengths; formed in full
  // precision and rounded once.
  const double pause =
      d > CloseCodes ? s.NudgeSleep : s.NudgeSleep * (s.NudgeTime / s.CloseNudgeTime);
  return {FPulseMs, Ms(pause)};
}

TNudgeVerdict TNudgePlanner::Passed(int32_t before, int32_t after, bool drove) {
  if (drove) {
    if (after != before) {
      FLastMoved = std::abs(int64_t{after} - before);
      // A pulse held at the lengthened floor that carries the motor more than a code was
      // lengthened past the motor's need (the still passes took up play): a step back.
      if (FLastMoved > 1 && FStillMs > 0 && FPulseMs <= std::lround(FStillMs * Lengthening))
        FStillMs /= Lengthening;
      FLastPulseMs = FPulseMs;
      FStillAtLongest = 0;
      FStillPasses = 0;
      FMovedYet = true;
    } else if (const double travel = Travel(FPulseMs);
               FReversing && !FMovedYet && travel >= 1 && FUnseenCodes + travel <= PlayCodes) {
      FUnseenCodes += travel;
    } else {
      // A motor the Setup's close pulse moves a fraction of a code at a time still moves:
      // the pulse is lengthened only after a few passes that all left the count alone.
      if (++FStillPasses >= StillPassesBeforeLengthening) {
        FStillMs = std::max<double>(FStillMs, FPulseMs);
        FStillPasses = 0;
      }
      if (FPulseMs >= FLongestMs && ++FStillAtLongest >= StillPassesAtLongest) {
        FForget = true;
        return TNudgeVerdict::nvNotMoving;
      }
    }
  }
  if ((FUp && after > FTarget) || (!FUp && after < FTarget) || after == FTarget)
    return TNudgeVerdict::nvLanded;
  if (Distance(after) > FStartDistance + AwayLimitCodes) return TNudgeVerdict::nvMovedAway;
  return TNudgeVerdict::nvPulse;
}

TNudgeLearnt TNudgePlanner::Learnt() const {
  if (FForget) return {};
  return {FLastMoved, FLastPulseMs, FStillMs < FLastPulseMs ? FStillMs : 0};
}

}  // namespace morvane
