#pragma once
// Motor models unlike the default one, for tests and benchmarks: the landing must hold on any
// plausible focuser, not only the one the factory settings were tuned on.

#include <string>
#include <vector>

#include "sim/SimParams.h"

namespace morvane::sim {

struct TMotorModel {
  const char* Name;
  const char* Description;
  TSimParams Params;
};

inline std::vector<TMotorModel> MotorModels() {
  std::vector<TMotorModel> models;
  models.push_back({"default", "geared DC motor the factory settings suit", TSimParams{}});
  {
    // A heavy focuser (a large refractor's drawtube): slow to spin up and slow to stop; a run
    // stopped at once coasts on about 22 codes, beyond the factory stop factor of 12.
    TSimParams p;
    p.SpinUpTime = 0.100;
    p.CoastTime = 0.120;
    p.CoastFriction = 600;
    models.push_back({"heavy", "coasts about 22 codes, beyond the stop factor", p});
  }
  {
    // A light, fast motor: a 15 ms pulse moves it about 7 codes, a 10 ms one about 5.
    TSimParams p;
    p.SlowSpeed = 500;
    p.FastSpeed = 1500;
    p.DirectSpeed = 500;
    p.SpinUpTime = 0.008;
    p.CoastTime = 0.015;
    p.CoastFriction = 5000;
    models.push_back({"light", "fast and light: a far pulse moves about 7 codes", p});
  }
  {
    // Stiction: 12 ms of drive before the shaft breaks away, more than a close pulse gives
    // in either mode and more than a far pulse gives in command mode.
    TSimParams p;
    p.BreakawayTime = 0.012;
    models.push_back({"sticky", "needs 12 ms of drive to break away", p});
  }
  {
    // A fast motor read through a real UART: changes that come while the reader is busy merge
    // into one event with the live levels, and only the line counters hold how many there
    // were. A run coasts about 24 codes, a pulse 5 to 10.
    TSimParams p;
    p.SlowSpeed = 900;
    p.FastSpeed = 2400;
    p.DirectSpeed = 900;
    p.SpinUpTime = 0.030;
    p.CoastTime = 0.040;
    p.CoastFriction = 4000;
    p.MergeEdges = true;
    models.push_back({"fastmerged", "900 codes/s, edges merged as on a real UART", p});
  }
  return models;
}

// The model of that name; false when there is none.
inline bool FindMotorModel(const std::string& name, TSimParams& params) {
  for (const auto& m : MotorModels())
    if (name == m.Name) {
      params = m.Params;
      return true;
    }
  return false;
}

}  // namespace morvane::sim
