#pragma once
// The stall guard's time floor: [FocusControl] StallTime, in seconds. A file without the key
// reads as the factory motor's time; the guard itself is always on.

#include <string>

namespace morvane {

// FactoryStallTime when the key is missing or not a number; otherwise brought into
// ShortestStallTime..LongestStallTime (controller/StallRule.h).
double ReadStallTime(const std::string& iniPath);

}  // namespace morvane
