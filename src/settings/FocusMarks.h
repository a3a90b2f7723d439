#pragma once
// The focus marks' log: each time the operator or another program marks "in focus here", the
// module's temperature, the count and the time, one line each, in a file beside the settings
// file. The newest MostFocusMarks are kept; a damaged line is passed over, not fatal. Written
// by whole-file replacement, so a crash leaves the old log or the new one.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/FileOps.h"

namespace morvane {

struct TFocusMark {
  int64_t UtcSeconds = 0;  // seconds since 1970-01-01 00:00 UTC
  double Celsius = 0;
  int32_t Position = 0;
  bool operator==(const TFocusMark&) const = default;
};

inline constexpr size_t MostFocusMarks = 200;

// The log beside a settings file: "Morvane.ini" keeps its marks in "Morvane-marks.txt" (and
// the simulator's "Morvane-sim.ini" in "Morvane-sim-marks.txt").
std::string FocusMarksPathFor(const std::string& iniPath);

// "2026-12-07T21:30:05Z 12.35 1234": the time, degrees Celsius with a point, the count.
std::string FocusMarkLine(const TFocusMark& m);
std::optional<TFocusMark> ParseFocusMarkLine(std::string_view line);

// The marks in the file, oldest first; none when there is no file or it cannot be read.
std::vector<TFocusMark> ReadFocusMarks(const std::string& path);

// Adds a mark, dropping the oldest beyond MostFocusMarks. False, the file as it was, when the
// file cannot be read (it is not replaced by one that lost its marks) or written.
bool AddFocusMark(const std::string& path, const TFocusMark& m, TFileOps& ops = DefaultFileOps());

// Empties the log; false when it cannot be written.
bool ClearFocusMarks(const std::string& path, TFileOps& ops = DefaultFileOps());

}  // namespace morvane
