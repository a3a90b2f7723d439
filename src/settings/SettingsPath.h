#pragma once
// Where the settings file "Morvane.ini" lies: beside the program when the program's directory
// is writable (a build tree, a portable install). An installed program's directory is not
// writable on Linux; the file is then $XDG_CONFIG_HOME/Morvane/Morvane.ini (~/.config without
// the variable), and that directory is made when missing. Either way the same rules apply to
// the file itself (written with factory defaults when missing).

#include <string>

namespace morvane {

// The directory of the running program, with its trailing separator.
// An environment variable's value, empty when it is not set.
std::string EnvValue(const char* name);

std::string ProgramDirectory();

// The data folder of a program installed in a prefix (<prefix>/bin/morvane beside
// <prefix>/share/morvane), with its trailing separator, or empty when programDir has none (a
// build tree, a portable copy).
std::string InstalledDataDirectory(const std::string& programDir);

// A file that ships with the program (the voice bundle, the user's guide): beside the program
// first, then in the installed data folder; the path beside the program when neither has it,
// so that a report names where it was looked for.
std::string ProgramDataFile(const std::string& name);

// The settings file for a program in programDir (with its trailing separator). writable tells
// whether programDir can take the file; xdgConfigHome and home are the environment's values
// (empty when unset).
std::string SettingsPathFor(const std::string& programDir, bool writable,
                            const std::string& xdgConfigHome, const std::string& home);

// The settings file of this program on this machine; makes the configuration directory when
// the file is to lie there. An installed program (one with a data folder) keeps its settings in
// the configuration directory even where its directory is writable (root, a scratch root), so
// that a package never writes beside its programs.
std::string SettingsPath();

// The settings file of a simulated run: "Morvane-sim.ini" beside iniPath, so that trying the
// simulator never changes the real set-up.
std::string SimulatorSettingsPathFor(const std::string& iniPath);

// The simulated run's settings file, begun as a copy of the real one (when there is one) so
// that the simulator starts as the user set the program up.
std::string SimulatorSettingsPath(const std::string& iniPath);

}  // namespace morvane
