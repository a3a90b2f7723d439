#pragma once
// Temperature compensation's decision: the focus point moves as the tube's temperature
// changes, by Coefficient codes per degree; a move is made once the drift reaches the dead
// band, only while nothing else moves the focuser and nobody holds it still. Pure: no clock,
// no thread.

#include <cstdint>

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

class TTempCompRule {
 public:
  // Readings outside this range are no tube temperature (a module fault or a loose probe).
  static constexpr double LowestCelsius = -50.0;
  static constexpr double HighestCelsius = 60.0;
  static TTempCompDecision Decide(const TTempCompInput& in);
};

// The operator's words for an action other than a move, "" for none.
const char* TempCompStateText(TTempCompAction a);

}  // namespace morvane
