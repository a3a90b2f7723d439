#pragma once
// The setup page at /setup and /setup/v1/focuser/0/setup: the device, its state and its
// settings, in dim red on black so that it can be read at the telescope at night.

#include <string>

#include "alpaca/AlpacaFocuser.h"
#include "alpaca/AlpacaSettings.h"

namespace morvane::alpaca {

struct TSetupFacts {
  TFocuserView View;
  bool Connected = false;
  TDeviceConfig Config;
  TAlpacaSettings Settings;
  std::string SettingsPath;
};

std::string SetupPage(const TSetupFacts& facts);

// Text made safe inside HTML.
std::string HtmlEscape(const std::string& text);

}  // namespace morvane::alpaca
