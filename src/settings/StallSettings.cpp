#include "settings/StallSettings.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "controller/StallRule.h"
#include "settings/Profile.h"
#include "settings/ValueText.h"

namespace morvane {

double ReadStallTime(const std::string& iniPath) {
  const std::optional<std::string> text =
      ReadProfileFile(iniPath).ReadString("FocusControl", "StallTime");
  const std::optional<double> v = text ? ParseDecimalText(*text, DecimalSeparator()) : std::nullopt;
  if (!v || !std::isfinite(*v) || *v <= 0) return FactoryStallTime;
  return std::clamp(*v, ShortestStallTime, LongestStallTime);
}

}  // namespace morvane
