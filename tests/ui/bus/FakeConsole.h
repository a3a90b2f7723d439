#pragma once
// A console that records what the bus side asks of it, for tests without the main window.

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "ui/bus/ConsoleActions.h"

namespace morvane::test {

class TFakeConsole : public TConsoleActions {
 public:
  int32_t Readout = 0;
  bool IsIdle = true;
  bool IsPortOpen = true;
  int32_t Port = 3;
  bool HasTemperature = false;
  bool IsRunning = false;
  double Celsius = 12.5;
  // One line per call, in order: "MoveByClick 5", "Broadcast 2 -12", ...
  std::vector<std::string> Calls;
  TCompensationSettings Comp;
  std::set<std::string> Holders;

  int32_t ShownPosition() override { return Readout; }
  bool Idle() override { return IsIdle; }
  bool ShownIdle() override { return IsIdle; }
  bool PortOpen() override { return IsPortOpen; }
  int32_t ComPort() override { return Port; }
  bool TemperatureAvailable() override { return HasTemperature; }
  bool Running() override { return IsRunning; }
  bool ReadTemperature(double& celsius) override {
    Record("ReadTemperature");
    celsius = Celsius;
    return HasTemperature;
  }
  void MoveByClick(int32_t codes) override { Record("MoveByClick", codes); }
  void MoveToClick(int32_t count) override { Record("MoveToClick", count); }
  void StopClick() override { Record("StopClick"); }
  void ResetClick() override { Record("ResetClick"); }
  void CoarseDown(bool in) override {
    IsRunning = true;
    Record("CoarseDown", in ? 1 : 0);
  }
  void CoarseUp() override {
    IsRunning = false;
    Record("CoarseUp");
  }
  void MessageMoveTo(int32_t count) override { Record("MessageMoveTo", count); }
  void MessageMoveBy(int32_t codes) override { Record("MessageMoveBy", codes); }
  TCompensationSettings Compensation() override { return Comp; }
  void SetCompensation(const TCompensationSettings& s) override { Comp = s; }
  void HoldCompensation(const std::string& holder) override { Holders.insert(holder); }
  void ReleaseCompensation(const std::string& holder) override { Holders.erase(holder); }
  bool CompensationHeld() override { return !Holders.empty(); }
  void Broadcast(int32_t w, int32_t l) override {
    Calls.push_back("Broadcast " + std::to_string(w) + " " + std::to_string(l));
  }

 private:
  void Record(const char* what) { Calls.emplace_back(what); }
  void Record(const char* what, int32_t v) {
    Calls.push_back(std::string(what) + " " + std::to_string(v));
  }
};

}  // namespace morvane::test
