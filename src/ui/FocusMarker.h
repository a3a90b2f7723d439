#pragma once
// Marks "in focus here" for learning temperature compensation's coefficient: reads the module
// as many times as compensation averages (at most MostReadings, one after the other), and logs
// the average with the count and the time. The module is read only while the focuser is idle
// (no move, no coarse run, no pause; module exchanges run on the GUI thread, as this does);
// a refusal logs nothing.

#include <cstdint>
#include <string>

#include "ui/bus/ConsoleActions.h"

namespace morvane {

class TFocusControl;
class TTempCompDriver;

class TFocusMarker {
 public:
  // The most readings one mark takes: each is an exchange on the line, and the caller waits.
  static constexpr int MostReadings = 10;

  TFocusMarker(TFocusControl& controller, const TTempCompDriver& driver, std::string marksPath);

  TMarkOutcome Mark(int64_t utcSeconds);
  const std::string& MarksPath() const { return FMarksPath; }

 private:
  TMarkOutcome Read(double& average);

  TFocusControl& FController;
  const TTempCompDriver& FDriver;
  std::string FMarksPath;
};

}  // namespace morvane
