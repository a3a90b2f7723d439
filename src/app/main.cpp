// Morvane: the main window on the focuser's serial port.
//
//   morvane [--simulate] [--unattended] [--night]
//
// Port n is the device named by [Devices] COM<n> in the settings file (/dev/ttyS<n-1> without
// the key; "simulator" for the simulated focuser). --simulate puts the simulated focuser on
// every port for this run, with its own settings file, Morvane-sim.ini beside Morvane.ini.
// --unattended: messages go to standard error and no box waits for a click (a run with nobody
// at the screen). --night turns night vision on, as its menu item does.

#include <QIcon>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "controller/Objects.h"
#include "host/ExceptionBoundary.h"
#include "host/QtControllerHost.h"
#include "platform/PosixSerialPort.h"
#include "platform/ProgramInfo.h"
#include "platform/Signals.h"
#include "settings/Devices.h"
#include "settings/SettingsPath.h"
#include "settings/SimShaft.h"
#include "sim/SimFocuser.h"
#include "ui/HelpViewer.h"
#include "ui/bus/BusLossWatch.h"
#include "ui/fMorvane.h"
#include "ui_fMorvane.h"

using namespace morvane;

namespace {

constexpr char Usage[] =
    "usage: morvane [--simulate] [--unattended | --headless] [--night] [--show-files]\n"
    "\n"
    "Drives a motorised telescope focuser over a serial port.\n"
    "\n"
    "  --simulate   the simulated focuser on every port for this run, with its own\n"
    "               settings file (Morvane-sim.ini beside Morvane.ini)\n"
    "  --night      night vision: the program red on black (remembered)\n"
    "  --unattended messages to standard error; no box waits for a click\n"
    "  --headless   no window, for a computer without a screen: unattended, and everything\n"
    "               other programs use (the bus, the named events, INDI, Alpaca) still works\n"
    "  --show-files show where the settings, the user's guide and the voice are found\n"
    "  --help       show this text\n"
    "  --version    show the version\n";

// The program's own options, read before Qt starts: a mistyped one, or a window asked for
// where there is no display, must end in a usage line rather than in Qt's abort. Options of
// Qt's own (one dash: -style, -platform) are left to Qt and checked once it has taken them.
struct TOptions {
  bool Simulate = false;
  bool Unattended = false;
  bool Headless = false;
  bool Night = false;
  bool ShowFiles = false;
};

bool ReadOptions(int argc, char** argv, TOptions& o, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--simulate") {
      o.Simulate = true;
    } else if (a == "--unattended") {
      o.Unattended = true;
    } else if (a == "--headless") {
      o.Headless = o.Unattended = true;
    } else if (a == "--night") {
      o.Night = true;
    } else if (a == "--show-files") {
      o.ShowFiles = true;
    } else if (a.starts_with("--")) {
      error = "unknown option '" + a + "'";
      return false;
    }
  }
  return true;
}

// A window needs a display; a session without one (ssh, a service) gets told what to run.
bool DisplayKnown() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

// Where this copy keeps and finds its files, for an astronomer checking an installation.
void ShowFiles(bool simulate) {
  const auto show = [](const char* what, const std::string& path) {
    std::error_code ignored;
    const bool found = std::filesystem::exists(path, ignored);
    std::printf("%-9s %s%s\n", what, path.c_str(), found ? "" : " (missing)");
  };
  show("settings", simulate ? SimulatorSettingsPath(SettingsPath()) : SettingsPath());
  show("guide", ProgramDataFile(HelpFileName));
  show("voice", ProgramDataFile("Res01.rcc"));
}

int SignalPipe[2] = {-1, -1};

void OnSignal(int signal) {
  const char byte = static_cast<char>(signal);
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
// motion is stopped and the window position written rather than lost. SIGHUP reads the
// settings file again and applies it, as a service manager's reload expects.
void CloseOnTerminate(TMainForm& window) {
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, SignalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, &window);
  QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
    char byte = 0;
    if (read(SignalPipe[0], &byte, 1) != 1) return;
    if (byte == SIGHUP)
      window.ReloadSettings();
    else
      CloseWhenNoDialog(window);
  });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  // Answered before anything needs a display, so that they work on a machine without one.
  if (AnswerHelpOrVersion(argc, argv, "morvane", MORVANE_VERSION_TEXT, Usage)) return 0;
  TOptions options;
  std::string error;
  if (!ReadOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "morvane: %s\n%s", error.c_str(), Usage);
    return 2;
  }
  if (options.ShowFiles) {
    ShowFiles(options.Simulate);
    return 0;
  }
  const bool headless = options.Headless;
  if (!headless && !DisplayKnown()) {
    std::fputs(
        "morvane: no display to open the window on ($DISPLAY is not set); "
        "morvane --headless runs without a screen\n",
        stderr);
    return 2;
  }
  // Without a window nothing may need a display: Qt's offscreen platform carries the same
  // window, unseen, so that everything other programs see of it stays the same.
  if (headless) qputenv("QT_QPA_PLATFORM", "offscreen");

  // The named events and registered names exist before any window.
  TStartupObjects startup;

  TMorvaneApplication app(argc, argv);
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("morvane")));
  QApplication::setApplicationName(QStringLiteral("Morvane"));
  // No display name: the platform would add " — Morvane" to every caption that does not end in
  // it, and the boxes' captions ("Information", "Setup") are the program's own texts. The
  // display name falls back to the application name where one is asked for.
  QApplication::setDesktopFileName(QStringLiteral("org.morvane.Morvane"));

  // What is left once Qt has taken its own options must be the program's.
  for (int i = 1; i < argc; ++i) {
    if (!std::string_view(argv[i]).starts_with("--")) {
      std::fprintf(stderr, "morvane: unknown option '%s'\n%s", argv[i], Usage);
      return 2;
    }
  }
  const bool simulate = options.Simulate;
  const bool unattended = options.Unattended;
  const bool night = options.Night;

  // A simulated run keeps a settings file of its own.
  const std::string iniPath = simulate ? SimulatorSettingsPath(SettingsPath()) : SettingsPath();
  // The simulated focuser is made only when a port names it, and outlives every port.
  std::unique_ptr<sim::TSimFocuser> simulator;
  TPortOpener opener = [&](int n) -> std::unique_ptr<TSerialPort> {
    const std::string path = simulate ? "simulator" : DevicePathForPort(iniPath, n);
    if (path == "simulator") {
      if (!simulator) {
        // Its shaft stays where the last run left it, as a real focuser's does.
        sim::TSimParams params;
        const std::string shaftPath = SimShaftPathFor(iniPath);
        if (const std::optional<double> shaft = ReadSimShaft(shaftPath)) params.StartShaft = *shaft;
        simulator = std::make_unique<sim::TSimFocuser>(params, [shaftPath](double shaft) {
          if (!WriteSimShaft(shaftPath, shaft)) LogLine("Unable to write to " + shaftPath);
        });
      }
      return simulator->Open();
    }
    int error = 0;
    std::unique_ptr<TSerialPort> port = OpenPosixSerialPort(path, &error);
    if (!port) {
      std::fprintf(stderr, "morvane: could not open COM %d (%s): %s\n", n, path.c_str(),
                   PortOpenAdvice(error).c_str());
      errno = error;  // the controller keeps it for the operator's message
    }
    return port;
  };

  TQtControllerHost host;
  host.SetUnattended(unattended);
  TMainForm form(host, opener, iniPath);
  CloseOnTerminate(form);
  // Without a window the bus is the only way in: when it ends (the login session closed), a
  // headless copy closes as on SIGTERM, motor stopped and settings saved, instead of holding
  // the port for nobody. A window can still be used, so it only tells the user.
  TBusLossWatch busWatch([&form, headless] {
    if (headless) {
      std::fputs("Morvane: the session bus has gone; closing\n", stderr);
      CloseWhenNoDialog(form);
    } else {
      form.SetBusProblem(QStringLiteral("Session bus gone: other programs cannot reach Morvane"));
    }
  });
  form.SetPortNamer([&](int n) { return simulate ? "simulator" : DevicePathForPort(iniPath, n); });
  if (night && !form.NightVision()) form.Form().NightVision1->trigger();
  form.show();
  return QApplication::exec();
}
