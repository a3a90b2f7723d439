#pragma once
// Where each numbered serial port is on this machine: section [Devices] of the settings file,
// keys "COM1", "COM2", ..., written by hand and by nothing in the program.

#include <string>

namespace morvane {

// The value of [Devices] COM<n> (a device path such as /dev/ttyUSB0, or "simulator"), or
// /dev/ttyS<n-1> when the key is absent or empty. Empty for a port number below 1.
std::string DevicePathForPort(const std::string& iniPath, int n);

}  // namespace morvane
