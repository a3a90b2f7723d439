#pragma once
// The focuser's motor and encoder shaft as a piecewise closed-form model: no integration
// steps, so the time at which the shaft reaches any angle can be found to a microsecond.
// Time is in seconds on any clock the owner chooses; angles in codes; not thread-safe.

#include <algorithm>
#include <limits>

#include "sim/SimParams.h"

namespace morvane::sim {

class TSimMotor {
 public:
  static constexpr double Never = std::numeric_limits<double>::infinity();

  // At rest at angle 0 at time t.
  TSimMotor(const TSimParams& params, double t);

  // Drive from time t on: dir +1 turns toward rising codes, -1 the other way, 0 no drive;
  // speed in codes/s (> 0). Advances to t first; t must not lie before Time().
  void SetDrive(double t, int dir, double speed);
  // Moves the model to time t (>= Time()).
  void AdvanceTo(double t);
  // Puts the shaft (and the motor, play centred) at angle x at rest, as when turned by hand.
  void PlaceShaft(double t, double x);

  // A jam at angle x from time t: the shaft meets it as it meets an end stop, on the side it
  // lies now. Free lifts it; a motor still driven against it breaks loose again.
  void JamAt(double t, double x);
  void Free(double t);

  // The earliest time in (Time(), tMax] at which the shaft leaves [lo, hi) or the motion
  // changes regime (breaks loose, stops, reverses, meets an end stop); Never when none does.
  // After AdvanceTo of that time the shaft lies outside [lo, hi) if that was the cause.
  double NextEvent(double lo, double hi, double tMax) const;

  double Time() const { return FT; }
  double Shaft() const { return FX; }  // encoder shaft angle, codes
  // The draw tube, in codes of the shaft, across TubePlay from it.
  double Tube() const { return FTube; }
  double Velocity() const { return FV; }  // motor speed, codes/s, signed
  int Drive() const { return FDir; }
  // Nothing will change without a new drive.
  bool Settled() const { return FRegime == TRegime::Rest || FRegime == TRegime::Stalled; }

 private:
  enum class TRegime {
    Rest,       // no drive, no motion
    Breakaway,  // driven from rest, not yet loose
    Driven,     // driven and turning
    Coast,      // turning without drive
    Stalled     // driven against an end stop
  };
  struct TState {
    double M, X, V;  // motor angle, shaft angle, motor speed
  };

  // End of the current closed-form segment (the motor angle is monotonic within it).
  double SegmentEnd() const;
  // State at t within the current segment.
  TState StateAt(double t) const;
  bool Outside(double x, double lo, double hi) const;
  // Motion ends at t; what follows depends on the drive (rest, stall or breakaway).
  void Halt(double t);
  // The tube follows the shaft's latest move, which is monotonic within a segment.
  void DragTube() { FTube = std::clamp(FTube, FX - FHalfTubePlay, FX + FHalfTubePlay); }

  double FSpinUp, FCoastTime, FFriction, FBreakaway, FHalfPlay, FHalfTubePlay, FMin, FMax;
  const double FTravelMin, FTravelMax;  // the end stops; FMin and FMax also hold a jam
  TRegime FRegime = TRegime::Rest;
  double FT, FM = 0, FX = 0, FV = 0;
  int FDir = 0;
  double FSpeed = 0;
  double FTube = 0;
  double FLoose = 0;  // Breakaway: when the shaft breaks loose
};

}  // namespace morvane::sim
