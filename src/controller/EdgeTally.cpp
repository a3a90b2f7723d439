#include "controller/EdgeTally.h"

#include <cstdlib>

namespace morvane {

namespace {

// Quarter cycles in the direction of rising counts, (CTS, DSR): (0,0) (1,0) (1,1) (0,1). From an
// even quarter a step up changes CTS, from an odd one DSR.
bool EvenQuarter(bool cts, bool dsr) {
  return cts == dsr;
}

// Direction of a CTS edge that left CTS at cts with DSR at dsr.
int EdgeDir(bool cts, bool dsr) {
  return cts == dsr ? -1 : 1;
}

// Changes between two readings of a counter, which wraps as the kernel's does.
int Changes(int before, int after) {
  return static_cast<int>(static_cast<uint32_t>(after) - static_cast<uint32_t>(before));
}

}  // namespace

void TEdgeTally::Reset(const TLineSample& sample) {
  FLast = sample;
  FLastDir = 0;
}

TTallyStep TEdgeTally::Take(const TLineSample& sample, bool dual) {
  TTallyStep step;
  const int cts = Changes(FLast.Counts.Cts, sample.Counts.Cts);
  const int dsr = Changes(FLast.Counts.Dsr, sample.Counts.Dsr);
  const TLineSample last = FLast;
  FLast = sample;
  if (cts <= 0) {
    // A DSR change alone still tells which way the shaft went.
    if (dsr == 1) FLastDir = EvenQuarter(last.Cts, last.Dsr) ? -1 : 1;
    return step;
  }
  step.CtsChanges = cts;
  // The last edge left CTS at its level now; counted from there, every other one rose.
  const int rising = sample.Cts ? (cts + 1) / 2 : cts / 2;
  int dir;
  const bool stillDsr = dsr <= 0 || std::abs(cts - dsr) > 1;
  if (stillDsr) {
    // DSR held still, so every edge saw it as it is now; or the changes did not alternate
    // (DSR chattering at rest): taken the same way, as a reader woken at once would.
    const int up = sample.Dsr ? -1 : 1;
    const int falling = cts - rising;
    step.Delta = up * (dual ? rising - falling : rising);
    dir = EdgeDir(sample.Cts, sample.Dsr);
  } else {
    if (cts != dsr) {
      // An odd number of changes: the line that changed more often changed first.
      dir = (cts > dsr) == EvenQuarter(last.Cts, last.Dsr) ? 1 : -1;
    } else {
      // As many of each: either order is possible, one for each direction. A turn goes on the
      // way it went; the first one after opening is taken as read at once after its CTS edge.
      dir = FLastDir != 0 ? FLastDir : EdgeDir(sample.Cts, sample.Dsr);
    }
    step.Delta = dir * (dual ? cts : rising);
  }
  FLastDir = dir;
  if (rising > 0) {
    step.RisingSeen = true;
    step.DsrAtRising = stillDsr ? sample.Dsr : dir < 0;
  }
  return step;
}

}  // namespace morvane
