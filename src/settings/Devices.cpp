#include "settings/Devices.h"

#include <optional>

#include "settings/Profile.h"

namespace morvane {

std::string DevicePathForPort(const std::string& iniPath, int n) {
  if (n < 1) return {};
  const std::optional<std::string> device =
      GetProfileString(iniPath, "Devices", "COM" + std::to_string(n));
  if (device && !device->empty()) return *device;
  return "/dev/ttyS" + std::to_string(n - 1);
}

}  // namespace morvane
