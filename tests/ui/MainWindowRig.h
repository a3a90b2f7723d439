#pragma once
// The real main window, offscreen, on its own simulated focuser and settings file, for tests
// of what other programs see on the session bus.

#include <QApplication>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "controller/Objects.h"
#include "host/QtControllerHost.h"
#include "sim/SimFocuser.h"
#include "support/BusTestSupport.h"
#include "ui/fMorvane.h"

namespace morvane::test {

// A settings file in command mode, no voice, the given stop factor.
inline std::string WriteTestSettings(const std::string& dir) {
  std::filesystem::create_directories(dir);
  const std::string path = dir + "/Morvane.ini";
  std::ofstream f(path, std::ios::binary);
  f << "[Device/Ports]\r\nComPort=1\r\nCommands=0\r\nVoice=2\r\n"
    << "[FocusControl]\r\nNudgeTime=0.015\r\nCloseNudgeTime=0.01\r\nNudgeDelay=0.08\r\n"
    << "StopFactor=12\r\nCodesPerRev=512\r\nReverseDirection=0\r\nTravelPerRev=0.58\r\n"
    << "HiResPositioning=0\r\n[Position]\r\nSavePosition=0\r\nLeft=10\r\nTop=10\r\n";
  return path;
}

class TMainWindowRig {
 public:
  explicit TMainWindowRig(const sim::TSimParams& params = {})
      : Dir(std::filesystem::temp_directory_path() /
            ("morvane-bus-" + std::to_string(getpid()) + "-" + std::to_string(++Serial))),
        Simulator(std::make_unique<sim::TSimFocuser>(params)) {
    const std::string ini = WriteTestSettings(Dir.string());
    Form = std::make_unique<TMainForm>(Host, Simulator->Opener(), ini);
    Form->show();
    ServeUntil([this] { return Form->Controller().PortOpen(); }, 5000);
  }
  ~TMainWindowRig() {
    if (Form) {
      Form->close();
      Form.reset();
    }
    std::error_code ignored;
    std::filesystem::remove_all(Dir, ignored);
  }

  TFocusControl& Controller() { return Form->Controller(); }

  std::filesystem::path Dir;
  std::unique_ptr<sim::TSimFocuser> Simulator;
  TQtControllerHost Host;
  std::unique_ptr<TMainForm> Form;

 private:
  static inline int Serial = 0;
};

}  // namespace morvane::test
