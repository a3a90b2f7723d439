#pragma once
// Backlash and temperature compensation settings: the [Compensation] section of the settings
// file. A file without the section reads as everything off, as before the section existed;
// the other sections are neither read nor written here.

#include <cstdint>
#include <string>

#include "platform/BusContract.h"
#include "settings/FileOps.h"

namespace morvane {

struct TCompensationSettings {
  int32_t BacklashMode = 0;   // 0 off, 1 final approach inward, 2 outward
  int32_t BacklashCodes = 0;  // how far past the target the first leg goes
  bool TempComp = false;
  double TempCoefficient = 0.0;  // codes per degree Celsius, signed
  int32_t TempSamples = 10;      // module readings averaged
  int32_t TempDeadBand = 5;      // no move smaller than this, in codes
  double TempReference = 0.0;    // degrees Celsius, taken when switched on
  bool operator==(const TCompensationSettings&) const = default;
};

// The settings' ranges: codes 0 (backlash) or 1 (dead band) to MostCompensationCodes, readings
// 1 to MostCompensationSamples, the coefficient within +-MostCompensationCoefficient; in the bus
// contract, since the programs beside Morvane refuse what lies outside them.

// Values outside their range are brought into it (an unknown mode is off).
TCompensationSettings NormalisedCompensation(TCompensationSettings s);

TCompensationSettings ReadCompensationSettings(const std::string& iniPath);

// Writes the section's keys in one replacement of the file; false (file as it was) on failure.
bool SaveCompensationSettings(const std::string& iniPath, const TCompensationSettings& s,
                              TFileOps& ops = DefaultFileOps());

// Writes the reference alone, so that the section's other keys stay as the file has them (a
// value the user edited there since the section was read is not put back); false (file as it
// was) on failure.
bool SaveTempReference(const std::string& iniPath, double reference,
                       TFileOps& ops = DefaultFileOps());

}  // namespace morvane
