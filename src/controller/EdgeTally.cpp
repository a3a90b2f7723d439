#include "controller/EdgeTally.h"

#include <cstdlib>

namespace morvane {

namespace {

// Quarter cycles in the direction of rising counts, (CTS, DSR): (0,0) (1,0) (1,1) (0,1). From an
// even quarter a step up changes CTS, from an odd one DSR.
bool EvenQuarter(bool cts, bool dsr) {
  return cts == dsr;
}

int Quarter(bool cts, bool dsr) {
  return cts ? (dsr ? 2 : 1) : (dsr ? 3 : 0);
}

// Direction of a CTS edge that left CTS at cts with DSR at dsr.
int EdgeDir(bool cts, bool dsr) {
  return cts == dsr ? -1 : 1;
}

// The single-resolution count from the double one: the double count's parity is the CTS level,
// and single resolution counts where CTS changes with DSR low, both ways, so that the count is
// the shaft's place alone: ceil(double / 2), taken from the CTS level before the changes.
int32_t SingleFromDouble(bool ctsBefore, int32_t doubleDelta) {
  const int32_t from = ctsBefore ? 1 : 0;
  auto half = [](int32_t d) { return (d + 1) >> 1; };  // ceil(d / 2), negatives too
  return half(from + doubleDelta) - half(from);
}

}  // namespace

void TEdgeTally::Reset(const TLineSample& sample) {
  FLast = sample;
  FLastDir = 0;
  FStarted = true;
}

TTallyStep TEdgeTally::Take(const TLineSample& sample, bool dual) {
  if (!FStarted) {
    Reset(sample);
    return {};
  }
  const bool ctsBefore = FLast.Cts;
  TTallyStep step = TakeDouble(sample);
  if (!dual) step.Delta = SingleFromDouble(ctsBefore, step.Delta);
  return step;
}

TTallyStep TEdgeTally::TakeDouble(const TLineSample& sample) {
  TTallyStep step;
  const int cts = CounterChanges(FLast.Counts.Cts, sample.Counts.Cts);
  const int dsr = CounterChanges(FLast.Counts.Dsr, sample.Counts.Dsr);
  const TLineSample last = FLast;
  FLast = sample;
  if (cts <= 0) {
    // A DSR change alone still tells which way the shaft went.
    if (dsr == 1) FLastDir = EvenQuarter(last.Cts, last.Dsr) ? -1 : 1;
    return step;
  }
  step.CtsChanges = cts;
  if (dsr <= 0) {
    // DSR held still, so every edge saw it as it is now.
    const int rising = sample.Cts ? (cts + 1) / 2 : cts / 2;
    const int up = sample.Dsr ? -1 : 1;
    step.Delta = up * (2 * rising - cts);
    if (rising > 0) {
      step.RisingSeen = true;
      step.DsrAtRising = sample.Dsr;
    }
    FLastDir = EdgeDir(sample.Cts, sample.Dsr);
    return step;
  }
  // A steady turn changes the lines in turn, each change one quarter on: from the last levels
  // the line that changed more often changed first, and the quarters turned match the changes.
  const int n = cts + dsr;
  const int turned = (Quarter(sample.Cts, sample.Dsr) - Quarter(last.Cts, last.Dsr)) & 3;
  const bool alternate = std::abs(cts - dsr) <= 1;
  const bool even = EvenQuarter(last.Cts, last.Dsr);
  const bool up = alternate && (n & 3) == turned && (cts == dsr || (cts > dsr) == even);
  const bool down = alternate && ((-n) & 3) == turned && (cts == dsr || (cts > dsr) != even);
  if (up || down) {
    // Both when there are as many of each: a turn goes on the way it went; the first one after
    // opening is taken as read at once after its CTS edge.
    const int dir = !down           ? 1
                    : !up           ? -1
                    : FLastDir != 0 ? FLastDir
                                    : EdgeDir(sample.Cts, sample.Dsr);
    const int rising = sample.Cts ? (cts + 1) / 2 : cts / 2;
    step.Delta = dir * cts;
    if (rising > 0) {
      step.RisingSeen = true;
      step.DsrAtRising = dir < 0;
    }
    FLastDir = dir;
    return step;
  }
  // No steady turn gives these changes: the shaft turned back among them (or a line chattered
  // at rest). Their order is lost; the least turn that ends on these levels is taken.
  // Two quarters either way: the way it went.
  const int ahead = FLastDir != 0 ? FLastDir : EdgeDir(sample.Cts, sample.Dsr);
  const int quarters = turned == 3 ? -1 : turned == 2 ? 2 * ahead : turned;
  const int dir = quarters > 0 ? 1 : -1;
  bool c = last.Cts, d = last.Dsr;
  for (int i = 0; i < std::abs(quarters); ++i) {
    const int q = (Quarter(c, d) + dir) & 3;
    const bool nextC = q == 1 || q == 2;
    d = q >= 2;
    if (nextC == c) continue;
    c = nextC;
    if (c) {
      step.Delta += d ? -1 : 1;
      step.RisingSeen = true;
      step.DsrAtRising = d;
    } else {
      step.Delta += d ? 1 : -1;
    }
  }
  FLastDir = quarters != 0 ? dir : ahead;
  return step;
}

}  // namespace morvane
