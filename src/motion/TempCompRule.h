#pragma once
// Temperature compensation's decision: the focus point moves as the tube's temperature
// changes, by Coefficient codes per degree; a move is made once the drift reaches the dead
// band, only while nothing else moves the focuser and nobody holds it still. Pure: no clock,
// no thread.

#include <cstdint>
#include <optional>
#include <span>

namespace morvane {

enum class TTempCompAction {
  taNone,           // within the dead band
  taMove,           // move by Codes; the reference becomes NewReference
  taBusy,           // a move, a coarse run or a module exchange runs: not now
  taHeld,           // another program holds the focuser still
  taNoPermit,       // the camera interlock's permit is required and not given
  taReadingFailed,  // paused: the module gave no temperature
  taOutOfRange,     // paused: the temperature cannot be the tube's
};

struct TTempCompInput {
  bool ReadingValid = false;
  double Average = 0;      // averaged module readings, degrees Celsius
  double Reference = 0;    // the temperature the present focus belongs to
  double Coefficient = 0;  // codes per degree Celsius, signed
  int32_t DeadBand = 1;    // no move smaller than this, in codes
  bool Idle = false;
  bool Held = false;
  bool PermitMissing = false;
};

struct TTempCompDecision {
  TTempCompAction Action = TTempCompAction::taNone;
  int32_t Codes = 0;
  double NewReference = 0;
};

// What becomes of one module reading before it joins the samples.
enum class TReadingVerdict {
  rvTaken,
  rvOutOfRange,  // no tube temperature
  rvJump,        // too far from the last one taken; taken once the next reading confirms it
};

class TTempCompRule {
 public:
  // Readings outside this range are no tube temperature (a module fault or a loose probe).
  static constexpr double LowestCelsius = -50.0;
  static constexpr double HighestCelsius = 60.0;
  // The module writes tenths of a degree: a reading flickers by this much at a steady
  // temperature.
  static constexpr double ModuleResolution = 0.1;
  // A tube of metal and glass in open air changes far less than this in one reading interval
  // (30 s by default, a few minutes at most while held): a larger step is a garbled reply.
  static constexpr double MostStepCelsius = 2.0;
  // One tick moves at most this many dead bands: a larger drift is made up over the next
  // ticks, so that no single bad figure can send the focuser far.
  static constexpr int32_t MostDeadBandsPerMove = 4;

  static bool Plausible(double celsius) {
    return celsius >= LowestCelsius && celsius <= HighestCelsius;  // false for NaN too
  }
  // The dead band in force: never as small as the coefficient times the module's resolution,
  // or a reading flickering by one digit would move the focuser back and forth every tick.
  static int32_t EffectiveDeadBand(double coefficient, int32_t deadBand);
  // last: the latest reading taken; unconfirmed: the reading before this one if it was
  // refused as a jump.
  static TReadingVerdict CheckReading(double celsius, std::optional<double> last,
                                      std::optional<double> unconfirmed);
  // The median of the samples (the mean of the middle two for an even number): one garbled
  // reading among them does not move it far. 0 for none.
  static double Median(std::span<const double> samples);
  static TTempCompDecision Decide(const TTempCompInput& in);
};

// The operator's words for an action other than a move, "" for none.
const char* TempCompStateText(TTempCompAction a);

}  // namespace morvane
