#pragma once
// The settings file "Morvane.ini": loading it into the staged settings, saving them, the
// window position, the factory-default file and the start-up stay-on-top rule.

#include <stdexcept>
#include <string>

#include "settings/FileOps.h"
#include "settings/SettingsHost.h"
#include "settings/StagedSettings.h"

namespace morvane {

// A write to the settings file failed; the file is as it was before that write. With a
// system error code the message ends with the system's words for it.
class ESettingsWriteError : public std::runtime_error {
 public:
  explicit ESettingsWriteError(const std::string& iniPath, int error = 0);
  int Error() const { return FError; }

 private:
  int FError;
};

inline constexpr char MissingSettingsFileMessage[] =
    "MORVANE.INI is missing....  A factory default INI is being installed";

// Writes the factory-default file first when nothing is at iniPath (after telling the
// operator); where something other than a file stands (a directory, a device), tells the
// operator what it is and reads the factory settings instead, writing nothing. Then reads every
// setting into staged, AppliedVoice and, when Save position is on, the window's position. Throws
// ESettingsWriteError when the default file cannot be written; the staged settings are then
// untouched.
void LoadSettings(const std::string& iniPath, TStagedSettings& staged, TSettingsHost& host,
                  TFileOps& ops = DefaultFileOps());

// Writes the staged settings into the file's text, key by key in a fixed order, and replaces
// the file with that text at once. On ESettingsWriteError the file is as it was.
void SaveSettings(const std::string& iniPath, const TStagedSettings& staged,
                  TFileOps& ops = DefaultFileOps());

// Writes the window's Left and then Top, in one replacement of the file.
void SaveWindowPosition(const std::string& iniPath, const TSettingsHost& host,
                        TFileOps& ops = DefaultFileOps());

// The seventeen-line factory-default file, its decimals in the locale's separator.
std::string FactorySettingsText();

// Replaces whatever is at iniPath by the factory-default file. A failure raises
// ESettingsWriteError naming the system's reason (no such folder, permission denied, disk
// full), which the operator needs to mend it.
void WriteDefaultSettingsFile(const std::string& iniPath, TFileOps& ops = DefaultFileOps());

// The main window's stay-on-top choice at creation. With no file, false (a normal window) and
// nothing is written. Otherwise a missing [FocusControl] StayOnTop is first written as "1",
// then the flag is read with default true. A file that refuses that write does not stop the
// window being made: the flag then reads as its default.
bool ReadStayOnTopAtStartUp(const std::string& iniPath, TFileOps& ops = DefaultFileOps());

}  // namespace morvane
