#pragma once
// The decisions of "Measure backlash": the play between the motor and the encoder shaft, from
// what short drive pulses do to the count. A run one way takes up the play on that side; more
// pulses the same way tell how far one pulse turns the motor; then pulses the other way turn
// it until the count moves. The motor's travel before the count moved is the play. No clock
// and no thread: the measuring thread drives, waits for the count to rest and tells the probe
// the counts before and after each pulse.

#include <cstdint>
#include <string>

namespace morvane {

struct TBacklashProbeLimits {
  uint32_t TakeUpMs = 150;  // the run that takes up the play on the first side
  int TakeUpRuns = 5;       // runs that may pass before the count moves TakeUpCodes
  int32_t TakeUpCodes = 2;
  int CalibrationPulses = 12;
  uint32_t LongestMs = 100;   // pulses are lengthened up to this while they move under a code
  int ReversePulses = 60;     // reversing pulses at most ...
  double PlayCodes = 120;     // ... and motor travel at most, before the count must move back
  int64_t TravelCodes = 600;  // the count's farthest way from where the measurement began
};

enum class TBacklashOutcome {
  boMeasured,    // play between the motor and the encoder: PlayCodes ± Uncertainty
  boNotSeen,     // the count followed the reversal; any play lies past the encoder
  boNotMoving,   // the motor does not move the count
  boMovedAway,   // the count moves against the drive
  boNoReversal,  // the count did not move back within the limits
  boTooFar,      // the count went farther than the limit
};

struct TBacklashResult {
  TBacklashOutcome Outcome = TBacklashOutcome::boNotMoving;
  // Measured: the middle of what the counts allow, and half its width. Not seen: 0, and the
  // most play that could hide under the first reversing pulses.
  double PlayCodes = 0;
  double Uncertainty = 0;
  double CodesPerPulse = 0;
  uint32_t PulseMs = 0;
  int ReversePulses = 0;
  bool Found() const {
    return Outcome == TBacklashOutcome::boMeasured || Outcome == TBacklashOutcome::boNotSeen;
  }
};

struct TProbeStep {
  bool Done = false;  // otherwise a pulse of PulseMs, up (count rising) or down
  bool Up = false;
  uint32_t PulseMs = 0;
};

class TBacklashProbe {
 public:
  // Up: the side the play is first taken up on. PulseMs: the first calibration pulse.
  TBacklashProbe(bool up, uint32_t pulseMs, const TBacklashProbeLimits& limits = {});

  TProbeStep Next() const;
  // The counts at rest before and after the pulse Next() gave.
  void Passed(int32_t before, int32_t after);
  bool Done() const { return FPhase == TPhase::Done; }
  const TBacklashResult& Result() const { return FResult; }

 private:
  enum class TPhase { TakeUp, Calibrate, Reverse, Done };
  void Finish(TBacklashOutcome outcome);
  void FinishReversal();

  TBacklashProbeLimits FLimits;
  bool FUp;
  TPhase FPhase = TPhase::TakeUp;
  uint32_t FPulseMs;
  int FRuns = 0;
  int64_t FTravel = 0;  // of the count, from the start, in the first direction
  int FCalPulses = 0;
  int64_t FCalCodes = 0;
  int FReversePulses = 0;
  TBacklashResult FResult;
};

// What the result means, in the words the window, the bus and morvanectl give it.
std::string BacklashResultText(const TBacklashResult& r);

}  // namespace morvane
