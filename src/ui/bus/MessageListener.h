#pragma once
// "MORVANE_MESSAGE" from other programs: the commands the main window answers, and the
// listener that brings the signal from the session bus to the GUI thread.

#include <QObject>

#include <cstdint>
#include <functional>

#include "ui/bus/ConsoleActions.h"

namespace morvane {

// wParam 1: broadcast (2, readout); 3: move to lParam; 4: move by lParam; 5: broadcast
// (6, idle). Anything else (the program's own notifications 2, 6, 8 among them) is ignored.
void HandleMorvaneMessage(TConsoleActions& console, int32_t wParam, int32_t lParam);

// Listens for "MORVANE_MESSAGE" (int32 wParam, int32 lParam) from any sender on the session
// bus and passes each to handler on the GUI thread, in the order they came. Signals with
// other arguments never reach it.
class TMessageListener : public QObject {
  Q_OBJECT

 public:
  using THandler = std::function<void(int32_t wParam, int32_t lParam)>;
  explicit TMessageListener(THandler handler, QObject* parent = nullptr);
  ~TMessageListener() override;
  // False when there is no session bus.
  bool Listening() const { return FListening; }

 private Q_SLOTS:
  void MorvaneMessage(int wParam, int lParam);

 private:
  THandler FHandler;
  bool FListening = false;
};

}  // namespace morvane
