#pragma once
// The main window's side of the bus: the console as the bus sees it, the focuser's D-Bus
// interface and the listener for "MORVANE_MESSAGE". Owned by TMainForm.

#include <memory>

#include "ui/bus/ConsoleActions.h"
#include "ui/bus/FocuserService.h"
#include "ui/bus/MessageListener.h"

namespace morvane {

class TMainForm;

// The console as the bus side sees it: the window's own handlers and state.
class TMainFormConsole : public TConsoleActions {
 public:
  explicit TMainFormConsole(TMainForm& form) : Form(form) {}

  int32_t ReadoutValue() override;
  bool Idle() override;
  bool ShownIdle() override;
  bool PortOpen() override;
  int32_t ComPort() override;
  bool TemperatureAvailable() override;
  bool PositionTrusted() override;
  std::string PortDevice() override;
  std::string PortProblem() override;
  bool ReverseDirection() override;
  void SetReverseDirection(bool on) override;
  bool Running() override;
  bool ReadTemperature(double& celsius) override;
  void MoveByClick(int32_t codes) override;
  void MoveToClick(int32_t count) override;
  void StopClick() override;
  void ResetClick() override;
  std::string SyncCount(int32_t count) override;
  void CoarseDown(bool in) override;
  void CoarseUp() override;
  void MessageMoveTo(int32_t count) override;
  void MessageMoveBy(int32_t codes) override;
  void Broadcast(int32_t wParam, int32_t lParam) override;
  bool HandOver() override;
  TCompensationSettings Compensation() override;
  void SetCompensation(const TCompensationSettings& s) override;
  void HoldCompensation(const std::string& holder) override;
  void ReleaseCompensation(const std::string& holder) override;
  bool CompensationHeld() override;
  int32_t LastCompensationMove() override;
  std::string LastFault() override;
  int32_t PositionScale() override;
  void SetPositionScale(int32_t scale) override;
  TMarkOutcome MarkFocus() override;
  void MeasureBacklash(std::function<void(const TBacklashReply&)> done) override;
  TTravelLimits TravelLimits() override;
  std::string SetTravelLimits(const TTravelLimits& limits) override;
  void FindTravel(std::function<void(const TTravelReply&)> done) override;

 private:
  TMainForm& Form;
  bool FProbed = false;
};

struct TMainFormBus {
  explicit TMainFormBus(TMainForm& form) : Console(form), Service(Console) {}
  TMainFormConsole Console;
  TFocuserService Service;
  std::unique_ptr<TMessageListener> Listener;
};

}  // namespace morvane
