#pragma once
// Turns the port's line counters into encoder counts. The counting thread reads the counters
// and levels after each wake-up; a thread that came late finds several changes at once and
// counts them all, in the direction the lines give, instead of one.
//
// In double resolution every CTS edge counts: a rising one +1 with DSR low and -1 with DSR high,
// a falling one +1 with DSR high and -1 with DSR low. Single resolution counts the edges with
// DSR low only, rising +1 and falling -1: one count per cycle either way, at the same place
// both ways, so that a shaft that turns back across an edge and returns leaves the count as it
// was (counting every rising edge by DSR's level would gain one each time). Several changes found
// at once are taken as one steady turn where they can be: CTS and DSR then change in turn, and
// which of them changed first, seen from the last levels, gives the direction. Where they cannot
// (the shaft turned back among them) their order is lost, and the least turn that ends on the
// levels now is taken; only a reader late across a turn-back can miscount. Pure: no clock, no
// thread.

#include <cstdint>

#include "platform/SerialPort.h"

namespace morvane {

// The encoder lines as the port reported them: counters and the levels that go with them.
struct TLineSample {
  TModemCounts Counts;
  bool Cts = false;
  bool Dsr = false;
};

struct TTallyStep {
  int32_t Delta = 0;         // count change
  int CtsChanges = 0;        // CTS changes found (0: nothing to report)
  bool RisingSeen = false;   // a rising CTS edge was among them
  bool DsrAtRising = false;  // DSR at the last rising edge (true: counting down)
};

class TEdgeTally {
 public:
  // Starts from this sample: changes before it are not counted.
  void Reset(const TLineSample& sample);
  // The count change from the changes since the previous sample; dual counts both CTS edges.
  // Before any sample (a first read of the counters that failed) the first one taken is the
  // start and counts nothing: the counters hold every change since the port driver loaded.
  TTallyStep Take(const TLineSample& sample, bool dual);

 private:
  TTallyStep TakeDouble(const TLineSample& sample);

  TLineSample FLast;
  bool FStarted = false;
  int FLastDir = 0;  // direction of the last CTS edge counted: +1, -1, or 0 before the first
};

}  // namespace morvane
