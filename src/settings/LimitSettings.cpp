#include "settings/LimitSettings.h"

#include <optional>
#include <string_view>

#include "settings/Profile.h"
#include "settings/ValueText.h"

namespace morvane {

namespace {
constexpr std::string_view LimitSection = "FocusControl";

std::optional<int> ReadInt(const TProfileText& p, std::string_view key) {
  const std::optional<std::string> t = p.ReadString(LimitSection, key);
  return t ? ParseIntegerText(*t) : std::nullopt;
}
}  // namespace

TTravelLimits ReadTravelLimits(const std::string& iniPath) {
  const TProfileText p = ReadProfileFile(iniPath);
  const std::optional<int> set = ReadInt(p, "LimitsSet");
  const std::optional<int> lower = ReadInt(p, "LowerLimit");
  const std::optional<int> upper = ReadInt(p, "UpperLimit");
  TTravelLimits limits;
  limits.Lower = lower.value_or(0);
  limits.Upper = upper.value_or(0);
  limits.Set = set.value_or(0) != 0 && lower && upper && LimitsValid(*lower, *upper);
  return limits;
}

bool SaveTravelLimits(const std::string& iniPath, const TTravelLimits& limits, TFileOps& ops) {
  std::string old;
  const TFileRead read = ReadWholeFile(iniPath, old);
  // A file there that cannot be read must not be replaced by one holding only these keys.
  if (read == TFileRead::frFailed) return false;
  TProfileText p(old);
  const bool written = p.WriteString(LimitSection, "LimitsSet", limits.Set ? "1" : "0") &&
                       p.WriteString(LimitSection, "LowerLimit", std::to_string(limits.Lower)) &&
                       p.WriteString(LimitSection, "UpperLimit", std::to_string(limits.Upper));
  if (!written) return false;
  if (read == TFileRead::frRead && p.Text() == old) return true;
  return ReplaceWholeFile(iniPath, p.Text(), ops);
}

}  // namespace morvane
