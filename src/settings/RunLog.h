#pragma once
// The run log: what someone looking into a night afterwards needs (starts and ends, the port
// opening and closing and why, each move asked and how it ended, stalls, compensation moves,
// hand-overs), one time-stamped line each, in a file bounded in size: past MaxBytes the file
// becomes "<name>.1" (and that one "<name>.2", and so on up to Keep files in all). Plain C++;
// written from the GUI thread only.

#include <cstdint>
#include <cstdio>
#include <string>

namespace morvane {

// Where the log of a program with the settings file iniPath lies. Settings in the user's
// configuration folder ($XDG_CONFIG_HOME/Morvane): $XDG_STATE_HOME/morvane (~/.local/state
// without it). Settings anywhere else (a portable copy, a test's folder): beside them. The
// simulator's settings file ("Morvane-sim.ini") gets a log of its own, "morvane-sim.log".
std::string RunLogPathFor(const std::string& iniPath, const std::string& xdgConfigHome,
                          const std::string& xdgStateHome, const std::string& home);
// The same from the environment; makes the state folder when the log is to lie there.
std::string RunLogPath(const std::string& iniPath);

class TRunLog {
 public:
  static constexpr uintmax_t DefaultMaxBytes = 1024 * 1024;
  static constexpr int DefaultKeep = 3;

  TRunLog() = default;
  explicit TRunLog(std::string path, uintmax_t maxBytes = DefaultMaxBytes, int keep = DefaultKeep);
  TRunLog(const TRunLog&) = delete;
  TRunLog& operator=(const TRunLog&) = delete;
  ~TRunLog();

  // Appends "YYYY-MM-DD hh:mm:ss.mmm line" (local time, with the zone). A log that cannot
  // be written is given up quietly: it must never stop the focuser.
  void Write(const std::string& line);
  const std::string& Path() const { return FPath; }

 private:
  void Rotate();

  std::string FPath;
  uintmax_t FMaxBytes = DefaultMaxBytes;
  int FKeep = DefaultKeep;
  std::FILE* FFile = nullptr;
  uintmax_t FSize = 0;
};

}  // namespace morvane
