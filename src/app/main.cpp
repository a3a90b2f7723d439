// Console front end: opens the focuser's port, drives the motor in and out for a moment and
// makes a move by and to a count, printing the position as the encoder turns.
//
//   morvane [--simulate] [--port N]
//
// Port n is the device named by [Devices] COM<n> in Morvane.ini beside the program
// (/dev/ttyS<n-1> without the key; "simulator" for the simulated focuser). --simulate puts
// the simulated focuser on every port for this run and writes nothing.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <unistd.h>

#include "controller/DispatchHost.h"
#include "controller/Objects.h"
#include "motion/Signals.h"
#include "platform/PosixSerialPort.h"
#include "settings/Devices.h"
#include "sim/SimFocuser.h"

using namespace morvane;

namespace {

void Usage() {
  std::fprintf(stderr, "usage: morvane [--simulate] [--port N]\n");
}

void WaitMoveFinished() {
  if (GeneralDelayEvent().WaitFor(60000) != TWaitResult::wrSignaled)
    std::fprintf(stderr, "move did not finish\n");
}

// The directory of the running program, with its trailing separator.
std::string ProgramDirectory() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "./";
  std::string path(buf, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/') + 1);
}

}  // namespace

int main(int argc, char** argv) {
  bool simulate = false;
  int port = 1;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--simulate")) {
      simulate = true;
    } else if (!std::strcmp(argv[i], "--port") && i + 1 < argc) {
      port = std::atoi(argv[++i]);
    } else {
      Usage();
      return 2;
    }
  }

  TStartupObjects startup;
  // The simulated focuser is made only when a port names it, and lives as long as the program.
  std::unique_ptr<sim::TSimFocuser> simulator;
  const std::string iniPath = ProgramDirectory() + "Morvane.ini";
  TPortOpener opener = [&](int n) -> std::unique_ptr<TSerialPort> {
    const std::string path = simulate ? "simulator" : DevicePathForPort(iniPath, n);
    if (path == "simulator") {
      if (!simulator) simulator = std::make_unique<sim::TSimFocuser>();
      return simulator->Open();
    }
    return OpenPosixSerialPort(path);
  };

  TDispatchHost host;
  {
    TFocusControl focuser(host, opener);
    focuser.SetStopFactor(12);
    focuser.SetNudgeSleep(0.15);
    // The readout: counts arrive on the counting thread and are printed on the GUI thread.
    focuser.OnCTSChange = [&host](TFocusControl*, int32_t count, bool dsr) {
      host.Post([count, dsr] { std::printf("\rposition %.4d  %s ", count, dsr ? "out" : "in "), std::fflush(stdout); });
    };
    focuser.OnIdleChange = [&host](TFocusControl*, bool idle) {
      host.Post([idle] { std::printf("\n%s\n", idle ? "idle" : "moving"); });
    };
    focuser.SetComPort(port);
    bool opened = false;
    host.Run([&] { opened = focuser.OpenPort(); });
    if (!opened) {
      host.ShowMessage("Could not open COM " + std::to_string(port));
      return 1;
    }
    std::printf("In for one second\n");
    focuser.StartMove(true, 0);
    Sleep(1000);
    focuser.StopMotor();
    Sleep(400);
    std::printf("\nOut for half a second\n");
    focuser.StartMove(false, 0);
    Sleep(500);
    focuser.StopMotor();
    Sleep(400);
    std::printf("\nMove by +100\n");
    host.Run([&] { focuser.MoveBy(100); });
    WaitMoveFinished();
    std::printf("\nMove to 0\n");
    host.Run([&] { focuser.MoveTo(0); });
    WaitMoveFinished();
    Sleep(100);
    std::printf("\nEnded at %.4d\n", focuser.CTSCount());
    host.Run([&] { focuser.CancelMovement(); });
  }
  return 0;
}
