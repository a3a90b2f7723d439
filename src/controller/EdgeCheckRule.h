#pragma once
// The count's own check, without clock or thread: while the motor is driven one way the
// encoder's two lines change in turn, so the port's counters of their changes stay within a
// change of each other from the start of the drive; a wider gap means that the port missed
// edges of one line, and the count (inferred from both) is no longer the shaft's place. The
// counting thread keeps the baseline and asks at each reading.
//
// Only a steady drive is judged: at rest, in a pause and across a reversal the shaft may turn
// back on one edge (a coasting shaft caught by the new drive, a shaft rocking on an edge),
// and its changes then come on one line only without any being lost.

#include <cstdint>
#include <string>

#include "platform/SerialPort.h"

namespace morvane {

// Changes of one line beyond the other's before edges count as lost: the one change of a
// steady turn, and one turn-back where a new drive catches the shaft still coasting.
inline constexpr int MostLineGap = 2;

// Where the judged stretch began: the counters then and the drive it belongs to.
struct TEdgeBaseline {
  bool Set = false;
  uint32_t Drive = 0;  // the drive's serial number (see TEdgeCheck::Judge)
  TModemCounts Counts;
};

struct TEdgeCheck {
  TEdgeBaseline Baseline;  // the stretch to judge the next reading against
  bool Lost = false;       // edges were lost since the old baseline
  // Changes of each line since the old baseline (0 where a new stretch starts).
  int CtsChanges = 0;
  int DsrChanges = 0;
};

// One reading of the counters. steady: the motor is driven, one way, without a pause; drive:
// a number that changes whenever the drive starts, stops, reverses or resumes, so that a
// stretch never spans two drives. A new drive, no steady drive or a loss starts a new
// stretch at this reading.
TEdgeCheck JudgeEdges(const TEdgeBaseline& baseline, bool steady, uint32_t drive,
                      const TModemCounts& counts);

// "Encoder edges lost at 20480 (CTS 14, DSR 3 changes): position unverified; Set Position or
// Reset".
std::string EdgeLossText(int32_t count, int ctsChanges, int dsrChanges);

}  // namespace morvane
