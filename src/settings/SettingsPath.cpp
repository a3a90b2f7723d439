#include "settings/SettingsPath.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace morvane {

namespace {

constexpr char FileName[] = "Morvane.ini";
constexpr char DataFolder[] = "../share/morvane/";

}  // namespace

std::string EnvValue(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string ProgramDirectory() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "./";
  const std::string path(buf, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/') + 1);
}

std::string InstalledDataDirectory(const std::string& programDir) {
  std::error_code ignored;
  const std::filesystem::path data = std::filesystem::path(programDir) / DataFolder;
  if (!std::filesystem::is_directory(data, ignored)) return "";
  return data.lexically_normal().string();
}

std::string ProgramDataFile(const std::string& name) {
  const std::string dir = ProgramDirectory();
  std::error_code ignored;
  if (std::filesystem::exists(dir + name, ignored)) return dir + name;
  const std::string data = InstalledDataDirectory(dir);
  if (!data.empty() && std::filesystem::exists(data + name, ignored)) return data + name;
  return dir + name;
}

std::string SettingsPathFor(const std::string& programDir, bool writable,
                            const std::string& xdgConfigHome, const std::string& home) {
  if (writable) return programDir + FileName;
  // A relative XDG_CONFIG_HOME is not a base directory: desktops ignore it, and so do we.
  std::string config = xdgConfigHome;
  if (config.empty() || config[0] != '/')
    config = (home.empty() ? std::string(".") : home) + "/.config";
  return config + "/Morvane/" + FileName;
}

std::string SettingsPath() {
  const std::string dir = ProgramDirectory();
  // The directory decides: a read-only file beside a writable program stays the settings
  // file, and its failed writes are reported as such.
  const bool writable = access(dir.c_str(), W_OK) == 0 && InstalledDataDirectory(dir).empty();
  const std::string path =
      SettingsPathFor(dir, writable, EnvValue("XDG_CONFIG_HOME"), EnvValue("HOME"));
  if (!writable) {
    std::error_code ignored;  // a directory that cannot be made shows as a failed write later
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  }
  return path;
}

std::string SimulatorSettingsPathFor(const std::string& iniPath) {
  return iniPath.substr(0, iniPath.rfind('/') + 1) + "Morvane-sim.ini";
}

std::string SimulatorSettingsPath(const std::string& iniPath) {
  const std::string path = SimulatorSettingsPathFor(iniPath);
  std::error_code ignored;  // without a copy the simulated run starts from factory defaults
  if (!std::filesystem::exists(path, ignored)) std::filesystem::copy_file(iniPath, path, ignored);
  return path;
}

}  // namespace morvane
