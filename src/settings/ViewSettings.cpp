#include "settings/ViewSettings.h"

#include <cerrno>
#include <optional>

#include "settings/Profile.h"
#include "settings/SettingsFile.h"
#include "settings/ValueText.h"

namespace morvane {

namespace {

void WriteFlag(const std::string& iniPath, std::string_view section, std::string_view key, bool on,
               TFileOps& ops) {
  if (!WriteProfileString(iniPath, section, key, on ? "1" : "0", ops))
    throw ESettingsWriteError(iniPath, errno);
}

}  // namespace

void WriteStayOnTop(const std::string& iniPath, bool on, TFileOps& ops) {
  WriteFlag(iniPath, "FocusControl", "StayOnTop", on, ops);
}

bool ReadNightVision(const std::string& iniPath) {
  const std::optional<std::string> text = GetProfileString(iniPath, "View", "NightVision");
  const std::optional<int> value = text ? ParseIntegerText(*text) : std::nullopt;
  return value.value_or(0) != 0;
}

void WriteNightVision(const std::string& iniPath, bool on, TFileOps& ops) {
  WriteFlag(iniPath, "View", "NightVision", on, ops);
}

}  // namespace morvane
