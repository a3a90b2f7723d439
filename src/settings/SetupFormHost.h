#pragma once
// What the setup dialog needs of the main window, beyond what the settings file needs.

#include <string>

#include "settings/Devices.h"
#include "settings/SettingsHost.h"

namespace morvane {

class TSetupFormHost : public TSettingsHost {
 public:
  // The full path of the settings file, formed once when the main window is created.
  virtual std::string IniPath() const = 0;

  // The device behind port n ("/dev/ttyUSB0", "simulator"; empty for no port), named in the
  // message when it will not open.
  virtual std::string PortDeviceFor(int n) const { return DevicePathForPort(IniPath(), n); }

  // Enables or disables the main window's "Speed" radio group (SpeedRG): the motor speed means
  // nothing when the focuser is driven directly by the port's lines.
  virtual void SetSpeedRGEnabled(bool enabled) = 0;

  // A modal message box captioned with the application title "Morvane", one OK button, no
  // icon; returns when it is closed. The main window forwards it to its controller host's
  // ShowMessage, so that the dialog's messages look like the controller's.
  virtual void ShowMessage(const std::string& text) = 0;

  // The dialog changed the controller's travel limits: other programs are told.
  virtual void TravelLimitsChanged() {}
};

}  // namespace morvane
