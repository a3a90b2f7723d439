#include "controller/StallRule.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace morvane {

int64_t TStallRule::Limit(int64_t lastIntervalUs) const {
  const double expected = FParams.CodesPerSecond > 0 ? 1e6 / FParams.CodesPerSecond : 0.0;
  // A motor seen to turn slower than commanded (a heavy tube, a low supply) is judged by
  // what it does, not by what it was told.
  const double interval =
      std::max(expected, static_cast<double>(std::max<int64_t>(lastIntervalUs, 0)));
  const double byIntervals = interval * std::max(FParams.Intervals, 1);
  const int64_t ceiling = std::max(FParams.CeilingUs, FParams.FloorUs);
  return std::clamp(static_cast<int64_t>(std::llround(std::min(byIntervals, 1e15))),
                    FParams.FloorUs, ceiling);
}

TStallVerdict TStallRule::Judge(const TStallInput& in) const {
  TStallVerdict v;
  if (!in.DriveOn || in.Paused) return v;
  // A pause ended restarts the drive: the motor spins up again.
  const int64_t since = std::max(in.DriveSinceUs, in.ResumedUs);
  // Only a change since the drive (re)started shows the motor turning under this drive; the
  // counters moving on count as one.
  const int64_t lastSign = std::max(in.LastChangeUs, in.LinesMovedUs);
  const bool turned = lastSign > since;
  // Only an interval that began under this drive shows its speed: the first change after a
  // rest would otherwise carry the whole rest as its interval.
  const bool measured = in.LastChangeUs > since && in.LastChangeUs - in.LastIntervalUs >= since;
  v.LimitUs = Limit(measured ? in.LastIntervalUs : 0);
  v.CheckAtUs = turned ? lastSign + v.LimitUs : since + FParams.StartAllowanceUs + v.LimitUs;
  v.Stalled = in.NowUs >= v.CheckAtUs;
  return v;
}

bool TStallRule::LinesMoved(const TModemCounts& now, const TModemCounts& counted,
                            const TModemCounts& looked) {
  return now != counted && now != looked;
}

std::string StallFaultText(int32_t count, int64_t limitUs) {
  // Tenths unless the time is shorter than one.
  const double s = static_cast<double>(limitUs) / 1e6;
  char time[32];
  if (s >= 0.1 || s <= 0)
    std::snprintf(time, sizeof time, "%.1f", std::round(s * 10) / 10);
  else
    std::snprintf(time, sizeof time, "%.2f", s);
  return "Stopped at " + std::to_string(count) + ": no encoder change for " + time +
         " s, an end stop or the encoder";
}

}  // namespace morvane
