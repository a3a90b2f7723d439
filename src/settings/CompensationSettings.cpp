#include "settings/CompensationSettings.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string_view>

#include "settings/Profile.h"
#include "settings/ValueText.h"

namespace morvane {

namespace {

constexpr std::string_view Section = "Compensation";
constexpr int32_t MostCodes = MostCompensationCodes;
constexpr int32_t MostSamples = MostCompensationSamples;
constexpr double MostCoefficient = MostCompensationCoefficient;

int32_t ReadInt(const TProfileText& p, std::string_view key, int32_t def) {
  const std::optional<std::string> t = p.ReadString(Section, key);
  const std::optional<int> v = t ? ParseIntegerText(*t) : std::nullopt;
  return v.value_or(def);
}

double ReadDec(const TProfileText& p, std::string_view key, double def) {
  const std::optional<std::string> t = p.ReadString(Section, key);
  const std::optional<double> v = t ? ParseDecimalText(*t, DecimalSeparator()) : std::nullopt;
  return v.value_or(def);
}

}  // namespace

TCompensationSettings NormalisedCompensation(TCompensationSettings s) {
  if (s.BacklashMode < 0 || s.BacklashMode > 2) s.BacklashMode = 0;
  s.BacklashCodes = std::clamp(s.BacklashCodes, 0, MostCodes);
  s.TempSamples = std::clamp(s.TempSamples, 1, MostSamples);
  s.TempDeadBand = std::clamp(s.TempDeadBand, 1, MostCodes);
  if (!std::isfinite(s.TempCoefficient)) s.TempCoefficient = 0;
  s.TempCoefficient = std::clamp(s.TempCoefficient, -MostCoefficient, MostCoefficient);
  if (!std::isfinite(s.TempReference)) s.TempReference = 0;
  return s;
}

TCompensationSettings ReadCompensationSettings(const std::string& iniPath) {
  const TProfileText p = ReadProfileFile(iniPath);
  TCompensationSettings s;
  s.BacklashMode = ReadInt(p, "Backlash", s.BacklashMode);
  s.BacklashCodes = ReadInt(p, "BacklashCodes", s.BacklashCodes);
  s.TempComp = ReadInt(p, "TempComp", 0) != 0;
  s.TempCoefficient = ReadDec(p, "TempCoefficient", s.TempCoefficient);
  s.TempSamples = ReadInt(p, "TempSamples", s.TempSamples);
  s.TempDeadBand = ReadInt(p, "TempDeadBand", s.TempDeadBand);
  s.TempReference = ReadDec(p, "TempReference", s.TempReference);
  return NormalisedCompensation(s);
}

bool SaveCompensationSettings(const std::string& iniPath, const TCompensationSettings& in,
                              TFileOps& ops) {
  std::string old;
  const TFileRead read = ReadWholeFile(iniPath, old);
  // A file there that cannot be read must not be replaced by one holding only this section.
  if (read == TFileRead::frFailed) return false;
  TProfileText p(old);
  const TCompensationSettings s = NormalisedCompensation(in);
  const std::string sep = DecimalSeparator();
  const bool written =
      p.WriteString(Section, "Backlash", std::to_string(s.BacklashMode)) &&
      p.WriteString(Section, "BacklashCodes", std::to_string(s.BacklashCodes)) &&
      p.WriteString(Section, "TempComp", s.TempComp ? "1" : "0") &&
      p.WriteString(Section, "TempCoefficient", FormatDecimal(s.TempCoefficient, sep)) &&
      p.WriteString(Section, "TempSamples", std::to_string(s.TempSamples)) &&
      p.WriteString(Section, "TempDeadBand", std::to_string(s.TempDeadBand)) &&
      p.WriteString(Section, "TempReference", FormatDecimal(s.TempReference, sep));
  if (!written) return false;
  if (read == TFileRead::frRead && p.Text() == old) return true;
  return ReplaceWholeFile(iniPath, p.Text(), ops);
}

bool SaveTempReference(const std::string& iniPath, double reference, TFileOps& ops) {
  TCompensationSettings s;
  s.TempReference = reference;
  return WriteProfileString(
      iniPath, Section, "TempReference",
      FormatDecimal(NormalisedCompensation(s).TempReference, DecimalSeparator()), ops);
}

}  // namespace morvane
