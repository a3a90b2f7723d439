#pragma once
// The main window's side of the bus: the console as the bus sees it, the focuser's D-Bus
// interface and the listener for "MORVANE_MESSAGE". Owned by TMainForm.

#include <memory>

#include "console/Console.h"
#include "ui/bus/FocuserService.h"
#include "ui/bus/MessageListener.h"

namespace morvane {

class TMainForm;

// The console with the actions that still need the window (the voice, the dialogs, the
// settings it applies); its state is TConsole's values.
class TMainFormConsole : public TConsole {
 public:
  TMainFormConsole(TMainForm& form, TFocusControl& control, std::string iniPath)
      : TConsole(control, std::move(iniPath)), Form(form) {}

  bool ReverseDirection() override;
  void SetReverseDirection(bool on) override;
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
  void SetCompensation(const TCompensationSettings& s) override;
  int32_t PositionScale() override;
  void SetPositionScale(int32_t scale) override;
  TMarkOutcome MarkFocus() override;
  void MeasureBacklash(std::function<void(const TBacklashReply&)> done) override;
  TTravelLimits TravelLimits() override;
  std::string SetTravelLimits(const TTravelLimits& limits) override;
  void FindTravel(std::function<void(const TTravelReply&)> done) override;

 private:
  TMainForm& Form;
};

struct TMainFormBus {
  explicit TMainFormBus(TConsole& console) : Console(console), Service(console) {}
  TConsole& Console;
  TFocuserService Service;
  std::unique_ptr<TMessageListener> Listener;
};

}  // namespace morvane
