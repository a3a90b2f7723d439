// Morvane: the main window on the focuser's serial port.
//
//   morvane [--simulate]
//
// Port n is the device named by [Devices] COM<n> in the settings file (/dev/ttyS<n-1> without
// the key; "simulator" for the simulated focuser). --simulate puts the simulated focuser on
// every port for this run.

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "controller/Objects.h"
#include "motion/Signals.h"
#include "platform/PosixSerialPort.h"
#include "settings/Devices.h"
#include "settings/SettingsPath.h"
#include "sim/SimFocuser.h"
#include "ui/fMorvane.h"
#include "ui/host/ExceptionBoundary.h"
#include "ui/host/QtControllerHost.h"

using namespace morvane;

int main(int argc, char** argv) {
  // The named events and registered names exist before any window.
  TStartupObjects startup;

  TMorvaneApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Morvane"));
  QApplication::setApplicationDisplayName(QStringLiteral("Morvane"));
  QApplication::setDesktopFileName(QStringLiteral("morvane"));

  bool simulate = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--simulate")) {
      simulate = true;
    } else {
      std::fprintf(stderr, "usage: morvane [--simulate]\n");
      return 2;
    }
  }

  const std::string iniPath = SettingsPath();
  // The simulated focuser is made only when a port names it, and outlives every port.
  std::unique_ptr<sim::TSimFocuser> simulator;
  TPortOpener opener = [&](int n) -> std::unique_ptr<TSerialPort> {
    const std::string path = simulate ? "simulator" : DevicePathForPort(iniPath, n);
    if (path == "simulator") {
      if (!simulator) simulator = std::make_unique<sim::TSimFocuser>();
      return simulator->Open();
    }
    return OpenPosixSerialPort(path);
  };

  TQtControllerHost host;
  TMainForm form(host, opener, iniPath);
  form.show();
  return QApplication::exec();
}
