#pragma once
// The travel limits: [FocusControl] LimitsSet, LowerLimit, UpperLimit. A file without the
// keys, or with limits that leave no room between them, reads as no limits, as before the keys
// existed.

#include <string>

#include "controller/LimitRule.h"
#include "settings/FileOps.h"

namespace morvane {

TTravelLimits ReadTravelLimits(const std::string& iniPath);

// Writes the three keys in one replacement of the file (the limits' numbers are kept while
// they are off); false (file as it was) on failure.
bool SaveTravelLimits(const std::string& iniPath, const TTravelLimits& limits,
                      TFileOps& ops = DefaultFileOps());

}  // namespace morvane
