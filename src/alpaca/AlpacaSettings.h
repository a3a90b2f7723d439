#pragma once
// morvane-alpaca's own settings, in a small file beside Morvane's ("Alpaca.ini" in
// $XDG_CONFIG_HOME/Morvane, ~/.config/Morvane without it), section [Alpaca]:
//   Listen=127.0.0.1  Port=11111  DiscoveryPort=32227  MaxStep=<none: Morvane's PositionScale>
//   UniqueID=<made on the first run and kept>  MorvaneSettings=<Morvane's settings file>
// Morvane's file is only read, for the step size (TravelPerRev inches over CodesPerRev).

#include <cstdint>
#include <string>

namespace morvane::alpaca {

struct TAlpacaSettings {
  std::string Listen = "127.0.0.1";
  int Port = 11111;
  int DiscoveryPort = 32227;
  // MaxStep as the file keeps it, from before the clients shared Morvane's PositionScale: kept
  // while the key is there and valid (MaxStepKept), so that positions a user stored stay.
  int32_t MaxStep = 10000;
  bool MaxStepKept = false;
  std::string UniqueID;
  std::string MorvaneSettings;
};

// $XDG_CONFIG_HOME/Morvane/Alpaca.ini, making the directory when missing.
std::string AlpacaSettingsPath();

// Reads the file; keys missing or out of range keep their defaults. A missing UniqueID is
// made and written back (warning says so when it could not be kept).
TAlpacaSettings LoadAlpacaSettings(const std::string& path, std::string& warning);

// A random RFC 4122 version 4 UUID.
std::string NewUniqueId();

// Micrometres per code from Morvane's settings file (its defaults where a key is missing).
double StepSizeUm(const std::string& morvaneSettings);

}  // namespace morvane::alpaca
