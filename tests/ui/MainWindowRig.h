#pragma once
// The real main window, offscreen, on its own simulated focuser and settings file: the one
// set-up of every test and benchmark that runs the window.

#include <QApplication>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>

#include "controller/Objects.h"
#include "host/QtControllerHost.h"
#include "sim/SimFocuser.h"
#include "support/BusTestSupport.h"
#include "ui/fMorvane.h"
#include "ui_fMorvane.h"

namespace morvane::test {

// A settings file in command mode, no voice, stop factor 12, the position not kept.
inline std::string TestSettings() {
  return "[Device/Ports]\r\nComPort=1\r\nCommands=0\r\nVoice=2\r\n"
         "[FocusControl]\r\nNudgeTime=0.015\r\nCloseNudgeTime=0.01\r\nNudgeDelay=0.08\r\n"
         "StopFactor=12\r\nCodesPerRev=512\r\nReverseDirection=0\r\nTravelPerRev=0.58\r\n"
         "HiResPositioning=0\r\n[Position]\r\nSavePosition=0\r\nLeft=10\r\nTop=10\r\n";
}

// Writes TestSettings() as dir/Morvane.ini and returns its path.
inline std::string WriteTestSettings(const std::string& dir) {
  std::filesystem::create_directories(dir);
  const std::string path = dir + "/Morvane.ini";
  std::ofstream(path, std::ios::binary) << TestSettings();
  return path;
}

struct TWindowRigSetup {
  std::string Ini = TestSettings();  // written before the window opens; empty: no file at all
  sim::TSimParams Params{};          // of every simulated focuser the rig makes
  bool Open = true;                  // open the window at once
  std::unique_ptr<TQtControllerHost> Host{};  // the window's host; none: a plain Qt host
};

class TMainWindowRig {
 public:
  explicit TMainWindowRig(const sim::TSimParams& params = {})
      : TMainWindowRig(TWindowRigSetup{.Params = params}) {}
  explicit TMainWindowRig(TWindowRigSetup setup)
      : Dir(std::filesystem::temp_directory_path() /
            ("morvane-window-" + std::to_string(getpid()) + "-" + std::to_string(++Serial))),
        IniPath((Dir / "Morvane.ini").string()),
        Params(setup.Params),
        Simulator(std::make_unique<sim::TSimFocuser>(Params)),
        Host(setup.Host ? std::move(setup.Host) : std::make_unique<TQtControllerHost>()) {
    std::filesystem::create_directories(Dir);
    if (!setup.Ini.empty()) WriteIni(setup.Ini);
    if (setup.Open) Open();
  }
  ~TMainWindowRig() {
    Close();
    std::error_code ignored;
    std::filesystem::remove_all(Dir, ignored);
  }
  TMainWindowRig(const TMainWindowRig&) = delete;
  TMainWindowRig& operator=(const TMainWindowRig&) = delete;

  void WriteIni(const std::string& text) { std::ofstream(IniPath, std::ios::binary) << text; }

  // Makes the window and shows it without waiting. A window made before is closed first and
  // the new one gets a fresh simulated focuser.
  void Show() {
    if (Form || Shown) {
      Close();
      Simulator = std::make_unique<sim::TSimFocuser>(Params);
    }
    Shown = true;
    Form = std::make_unique<TMainForm>(
        *Host,
        [this](int n) -> std::unique_ptr<TSerialPort> {
          ++OpenCalls;
          if (!FailingPorts.count(n)) return Simulator->Opener()(n);
          errno = FailingErrno;
          return nullptr;
        },
        IniPath);
    Form->show();
  }
  // Show(), then serves the event loop until the window has finished its start (the port
  // opened when it can be); false if that took more than five seconds.
  bool Open() {
    Show();
    return ServeUntil([this] { return Form->Started(); }, 5000);
  }
  void Close() {
    if (Form) Form->close();
    Form.reset();
  }

  TFocusControl& Controller() { return Form->Controller(); }
  Ui::TMainForm& ui() { return Form->Form(); }

  std::filesystem::path Dir;
  std::string IniPath;
  std::set<int> FailingPorts;  // ports whose opening fails
  int FailingErrno = 0;        // with this reason
  int OpenCalls = 0;           // openings tried, failed or not
  sim::TSimParams Params;
  std::unique_ptr<sim::TSimFocuser> Simulator;
  std::unique_ptr<TQtControllerHost> Host;
  std::unique_ptr<TMainForm> Form;

 private:
  bool Shown = false;
  static inline int Serial = 0;
};

}  // namespace morvane::test
