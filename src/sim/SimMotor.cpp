#include "sim/SimMotor.h"

#include <algorithm>
#include <cmath>

namespace morvane::sim {

namespace {
// Shortest time constant accepted: below it the model would divide by almost nothing.
constexpr double MinTimeConstant = 1e-6;
// Resolution of the search for the time the shaft reaches an angle.
constexpr double TimeResolution = 1e-9;
}  // namespace

TSimMotor::TSimMotor(const TSimParams& params, double t)
    : FSpinUp(std::max(params.SpinUpTime, MinTimeConstant)),
      FCoastTime(std::max(params.CoastTime, MinTimeConstant)),
      FFriction(std::max(params.CoastFriction, 1e-6)),
      FBreakaway(std::max(params.BreakawayTime, 0.0)),
      FHalfPlay(std::max(params.Backlash, 0.0) / 2),
      FHalfTubePlay(std::max(params.TubePlay, 0.0) / 2),
      FMin(-std::abs(params.TravelRevs) * params.CodesPerRev),
      FMax(std::abs(params.TravelRevs) * params.CodesPerRev),
      FTravelMin(FMin),
      FTravelMax(FMax),
      FT(t) {}

double TSimMotor::SegmentEnd() const {
  switch (FRegime) {
    case TRegime::Breakaway:
      return FLoose;
    case TRegime::Driven:
      // Driven against its own motion, the motor passes through zero speed.
      if (FV * FDir < 0 && FSpeed > 0) return FT + FSpinUp * std::log1p(std::abs(FV) / FSpeed);
      return Never;
    case TRegime::Coast:
      return FT + FCoastTime * std::log1p(std::abs(FV) / (FFriction * FCoastTime));
    default:
      return Never;
  }
}

TSimMotor::TState TSimMotor::StateAt(double t) const {
  const double d = t - FT;
  double m = FM, v = FV;
  if (FRegime == TRegime::Driven && d > 0) {
    // v' = (w - v) / SpinUp
    const double w = FDir * FSpeed;
    const double grown = -std::expm1(-d / FSpinUp);
    v = w + (FV - w) * (1 - grown);
    m = FM + w * d + (FV - w) * FSpinUp * grown;
  } else if (FRegime == TRegime::Coast && d > 0) {
    // |v|' = -Friction - |v| / CoastTime
    const double s = FV < 0 ? -1.0 : 1.0;
    const double k = FFriction * FCoastTime;
    const double u0 = std::abs(FV);
    const double decayed = -std::expm1(-d / FCoastTime);
    const double u = std::max((u0 + k) * (1 - decayed) - k, 0.0);
    v = s * u;
    m = FM + s * ((u0 + k) * FCoastTime * decayed - k * d);
  }
  return {m, std::clamp(FX, m - FHalfPlay, m + FHalfPlay), v};
}

bool TSimMotor::Outside(double x, double lo, double hi) const {
  return x < lo || x >= hi || x > FMax || x < FMin;
}

void TSimMotor::Halt(double t) {
  FT = t;
  FV = 0;
  if (FDir == 0) {
    FRegime = TRegime::Rest;
  } else if ((FDir > 0 && FX >= FMax) || (FDir < 0 && FX <= FMin)) {
    FRegime = TRegime::Stalled;
  } else if (FBreakaway > 0) {
    FRegime = TRegime::Breakaway;
    FLoose = t + FBreakaway;
  } else {
    FRegime = TRegime::Driven;
  }
}

void TSimMotor::AdvanceTo(double t) {
  while (FT < t) {
    switch (FRegime) {
      case TRegime::Rest:
      case TRegime::Stalled:
        FT = t;
        return;
      case TRegime::Breakaway:
        if (t < FLoose) {
          FT = t;
          return;
        }
        FT = FLoose;
        FRegime = TRegime::Driven;
        break;
      case TRegime::Driven:
      case TRegime::Coast: {
        const double end = SegmentEnd();
        const double tt = std::min(t, end);
        const TState s = StateAt(tt);
        if (s.X > FMax || s.X < FMin) {
          // Against an end stop, motor and shaft stop together.
          FX = FM = std::clamp(s.X, FMin, FMax);
          DragTube();
          Halt(tt);
          break;
        }
        FT = tt;
        FM = s.M;
        FX = s.X;
        DragTube();
        FV = s.V;
        if (tt >= end) {
          FV = 0;
          if (FRegime == TRegime::Coast) FRegime = TRegime::Rest;
        }
        break;
      }
    }
  }
  // A segment too short to leave the current time ends here, so that every event the
  // search reports lies strictly ahead.
  if ((FRegime == TRegime::Driven || FRegime == TRegime::Coast) && SegmentEnd() <= FT) {
    FV = 0;
    if (FRegime == TRegime::Coast) FRegime = TRegime::Rest;
  }
}

void TSimMotor::SetDrive(double t, int dir, double speed) {
  AdvanceTo(t);
  dir = dir > 0 ? 1 : dir < 0 ? -1 : 0;
  speed = std::max(speed, 0.0);
  if (dir == FDir && speed == FSpeed) return;
  const int old = FDir;
  FDir = dir;
  FSpeed = speed;
  switch (FRegime) {
    case TRegime::Rest:
    case TRegime::Stalled:
      Halt(t);
      break;
    case TRegime::Breakaway:
      // A change of direction starts the breakaway over; a change of speed does not.
      if (dir != old) Halt(t);
      break;
    case TRegime::Driven:
      if (dir == 0) FRegime = FV != 0 ? TRegime::Coast : TRegime::Rest;
      break;
    case TRegime::Coast:
      if (dir != 0) FRegime = TRegime::Driven;
      break;
  }
  AdvanceTo(t);
}

void TSimMotor::JamAt(double t, double x) {
  AdvanceTo(t);
  if (x >= FX)
    FMax = std::min(x, FTravelMax);
  else
    FMin = std::max(x, FTravelMin);
}

void TSimMotor::Free(double t) {
  AdvanceTo(t);
  FMin = FTravelMin;
  FMax = FTravelMax;
  if (FRegime == TRegime::Stalled) Halt(t);
}

void TSimMotor::PlaceShaft(double t, double x) {
  AdvanceTo(t);
  FX = FM = std::clamp(x, FMin, FMax);
  DragTube();
  Halt(t);
}

double TSimMotor::NextEvent(double lo, double hi, double tMax) const {
  if (tMax <= FT) return Never;
  switch (FRegime) {
    case TRegime::Breakaway:
      return FLoose <= tMax ? FLoose : Never;
    case TRegime::Driven:
    case TRegime::Coast: {
      const double end = SegmentEnd();
      const double check = std::min(end, tMax);
      if (Outside(StateAt(check).X, lo, hi)) {
        // The shaft angle is monotonic within a segment, so the first time it is outside
        // is found by halving.
        double a = FT, b = check;
        while (b - a > TimeResolution) {
          const double mid = a + (b - a) / 2;
          if (mid <= a || mid >= b) break;
          (Outside(StateAt(mid).X, lo, hi) ? b : a) = mid;
        }
        return b;
      }
      return end <= tMax ? end : Never;
    }
    default:
      return Never;
  }
}

}  // namespace morvane::sim
