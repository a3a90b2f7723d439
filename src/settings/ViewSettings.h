#pragma once
// The window's look, chosen from its menu and kept in the settings file: stay on top
// ([FocusControl] StayOnTop, read at start by ReadStayOnTopAtStartUp) and night vision
// ([View] NightVision, off when absent, so a file without it looks as before).

#include <string>

#include "settings/FileOps.h"

namespace morvane {

// Each write changes that one key and throws ESettingsWriteError when the file refuses it.
void WriteStayOnTop(const std::string& iniPath, bool on, TFileOps& ops = DefaultFileOps());

bool ReadNightVision(const std::string& iniPath);
void WriteNightVision(const std::string& iniPath, bool on, TFileOps& ops = DefaultFileOps());

}  // namespace morvane
