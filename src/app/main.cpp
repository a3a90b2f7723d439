// Morvane: the main window on the focuser's serial port.
//
//   morvane [--simulate] [--night]
//
// Port n is the device named by [Devices] COM<n> in the settings file (/dev/ttyS<n-1> without
// the key; "simulator" for the simulated focuser). --simulate puts the simulated focuser on
// every port for this run, with its own settings file, Morvane-sim.ini beside Morvane.ini. --night
// turns night vision on, as its menu item does.

#include <QIcon>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
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
#include "ui_fMorvane.h"

using namespace morvane;

namespace {

int SignalPipe[2] = {-1, -1};

void OnTerminate(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = write(SignalPipe[1], &byte, 1);
}

// A dialog or message box open now is closed first, and the window only once their loops
// have ended (a later turn of the event loop), so that nothing still running inside them
// outlives what the window's close frees.
void CloseWhenNoDialog(QWidget& window) {
  if (QWidget* modal = QApplication::activeModalWidget()) {
    modal->close();
    QTimer::singleShot(10, &window, [&window] { CloseWhenNoDialog(window); });
    return;
  }
  window.close();
}

// SIGTERM (a logout, a service manager) and SIGINT close the window as Exit does, so that the
// motion is stopped and the window position written rather than lost.
void CloseOnTerminate(QWidget& window) {
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, SignalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, &window);
  QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
    char byte;
    [[maybe_unused]] const ssize_t n = read(SignalPipe[0], &byte, 1);
    CloseWhenNoDialog(window);
  });
  struct sigaction action {};
  action.sa_handler = OnTerminate;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  // The named events and registered names exist before any window.
  TStartupObjects startup;

  TMorvaneApplication app(argc, argv);
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("morvane")));
  QApplication::setApplicationName(QStringLiteral("Morvane"));
  // No display name: the platform would add " — Morvane" to every caption that does not end in
  // it, and the boxes' captions ("Information", "Setup") are the program's own texts. The
  // display name falls back to the application name where one is asked for.
  QApplication::setDesktopFileName(QStringLiteral("morvane"));

  bool simulate = false;
  bool night = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--simulate")) {
      simulate = true;
    } else if (!std::strcmp(argv[i], "--night")) {
      night = true;
    } else {
      std::fprintf(stderr, "usage: morvane [--simulate] [--night]\n");
      return 2;
    }
  }

  // A simulated run keeps a settings file of its own.
  const std::string iniPath = simulate ? SimulatorSettingsPath(SettingsPath()) : SettingsPath();
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
  CloseOnTerminate(form);
  form.SetPortNamer([&](int n) { return simulate ? "simulator" : DevicePathForPort(iniPath, n); });
  if (night && !form.NightVision()) form.Form().NightVision1->trigger();
  form.show();
  return QApplication::exec();
}
