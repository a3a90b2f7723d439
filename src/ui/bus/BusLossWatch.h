#pragma once
// Tells once when the session bus this program was connected to goes away (its daemon ended,
// as at the end of a login session). A headless Morvane can be reached only over that bus, so
// without it the program closes rather than hold the serial port for nobody.

#include <QObject>
#include <QTimer>

#include <functional>

namespace morvane {

class TBusLossWatch : public QObject {
 public:
  // Qt tells no public signal for a lost bus connection; asking whether the connection is
  // still up once a second costs nothing and closes a forgotten copy soon enough.
  static constexpr int PollMs = 1000;

  explicit TBusLossWatch(std::function<void()> onLost, QObject* parent = nullptr);

 private:
  void Poll();

  std::function<void()> FOnLost;
  QTimer FTimer;
  bool FWasConnected = false;
};

}  // namespace morvane
