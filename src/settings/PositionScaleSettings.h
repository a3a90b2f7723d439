#pragma once
// The clients' position scale: [FocusControl] PositionScale, the number the INDI driver's
// FOCUS_MAX and the Alpaca server's MaxStep show while no travel limits are set (the count 0
// is that position). A file without the key reads as DefaultPositionScale
// (platform/BusContract.h).

#include <cstdint>
#include <string>

namespace morvane {

// DefaultPositionScale when the key is missing or not a whole number; otherwise brought into
// LeastPositionScale..MostPositionScale.
int32_t ReadPositionScale(const std::string& iniPath);

}  // namespace morvane
