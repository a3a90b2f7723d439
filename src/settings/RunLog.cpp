#include "settings/RunLog.h"

#include <sys/time.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "settings/SettingsPath.h"

namespace morvane {

namespace fs = std::filesystem;

namespace {

// An XDG base folder: the variable when it is an absolute path, else home's default.
std::string BaseFolder(const std::string& variable, const std::string& home, const char* fallback) {
  if (!variable.empty() && variable.front() == '/') return variable;
  if (home.empty()) return {};
  return home + "/" + fallback;
}

}  // namespace

std::string RunLogPathFor(const std::string& iniPath, const std::string& xdgConfigHome,
                          const std::string& xdgStateHome, const std::string& home) {
  const fs::path ini(iniPath);
  const std::string name = ini.stem().string() == "Morvane-sim" ? "morvane-sim.log" : "morvane.log";
  const std::string config = BaseFolder(xdgConfigHome, home, ".config");
  const std::string state = BaseFolder(xdgStateHome, home, ".local/state");
  if (!config.empty() && !state.empty() &&
      ini.parent_path().lexically_normal() == (fs::path(config) / "Morvane").lexically_normal())
    return (fs::path(state) / "morvane" / name).string();
  return (ini.parent_path() / name).string();
}

std::string RunLogPath(const std::string& iniPath) {
  const std::string path = RunLogPathFor(iniPath, EnvValue("XDG_CONFIG_HOME"),
                                         EnvValue("XDG_STATE_HOME"), EnvValue("HOME"));
  std::error_code ignored;
  fs::create_directories(fs::path(path).parent_path(), ignored);
  return path;
}

TRunLog::TRunLog(std::string path, uintmax_t maxBytes, int keep)
    : FPath(std::move(path)), FMaxBytes(maxBytes), FKeep(keep < 1 ? 1 : keep) {}

TRunLog::~TRunLog() {
  if (FFile) std::fclose(FFile);
}

void TRunLog::Rotate() {
  if (FFile) std::fclose(FFile);
  FFile = nullptr;
  std::error_code ignored;
  fs::remove(FPath + "." + std::to_string(FKeep - 1), ignored);
  for (int i = FKeep - 2; i >= 1; --i)
    fs::rename(FPath + "." + std::to_string(i), FPath + "." + std::to_string(i + 1), ignored);
  if (FKeep > 1)
    fs::rename(FPath, FPath + ".1", ignored);
  else
    fs::remove(FPath, ignored);
}

void TRunLog::Write(const std::string& line) {
  if (FPath.empty()) return;
  timeval now{};
  gettimeofday(&now, nullptr);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  char stamp[48];
  const size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  char zone[16];
  std::strftime(zone, sizeof zone, "%z", &local);
  const std::string text = std::string(stamp, n) + "." +
                           std::to_string(1000 + now.tv_usec / 1000).substr(1) + zone + " " + line +
                           "\n";
  if (!FFile) {
    std::error_code ignored;
    const uintmax_t size = fs::file_size(FPath, ignored);
    FSize = ignored ? 0 : size;
  }
  // A line never splits across files; a file holds at least one line.
  if (FSize > 0 && FSize + text.size() > FMaxBytes) {
    Rotate();
    FSize = 0;
  }
  if (!FFile) FFile = std::fopen(FPath.c_str(), "a");
  if (!FFile) return;
  std::fputs(text.c_str(), FFile);
  std::fflush(FFile);  // a crash must not lose what led up to it
  FSize += text.size();
}

}  // namespace morvane
