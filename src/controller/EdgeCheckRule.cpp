#include "controller/EdgeCheckRule.h"

#include <cstdlib>
#include <string>

namespace morvane {

TEdgeCheck JudgeEdges(const TEdgeBaseline& baseline, bool steady, uint32_t drive,
                      const TModemCounts& counts) {
  TEdgeCheck check;
  check.Baseline = {true, drive, counts};
  if (!steady || !baseline.Set || baseline.Drive != drive) return check;
  check.CtsChanges = CounterChanges(baseline.Counts.Cts, counts.Cts);
  check.DsrChanges = CounterChanges(baseline.Counts.Dsr, counts.Dsr);
  check.Lost = std::abs(check.CtsChanges - check.DsrChanges) > MostLineGap;
  if (!check.Lost) check.Baseline = baseline;
  return check;
}

std::string EdgeLossText(int32_t count, int ctsChanges, int dsrChanges) {
  return "Encoder edges lost at " + std::to_string(count) + " (CTS " + std::to_string(ctsChanges) +
         ", DSR " + std::to_string(dsrChanges) +
         " changes): position unverified; Set Position or Reset";
}

}  // namespace morvane
