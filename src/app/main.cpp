// Console front end: opens the focuser's port, drives the motor in and out for a moment and
// makes a move by and to a count, printing the position as the encoder turns.
//
//   morvane [--simulate] [--port N] [--device PATH]
//
// --simulate puts the simulated focuser on every port for this run.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "controller/DispatchHost.h"
#include "controller/Objects.h"
#include "motion/Signals.h"
#include "platform/PosixSerialPort.h"
#include "sim/SimFocuser.h"

using namespace morvane;

namespace {

void Usage() {
  std::fprintf(stderr, "usage: morvane [--simulate] [--port N] [--device PATH]\n");
}

void WaitIdle(TFocusControl& c) {
  // Give the move's threads time to start, then wait for the move-finished signal.
  if (GeneralDelayEvent().WaitFor(60000) != TWaitResult::wrSignaled)
    std::fprintf(stderr, "move did not finish\n");
  (void)c;
}

}  // namespace

int main(int argc, char** argv) {
  bool simulate = false;
  int port = 1;
  std::string device;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--simulate")) {
      simulate = true;
    } else if (!std::strcmp(argv[i], "--port") && i + 1 < argc) {
      port = std::atoi(argv[++i]);
    } else if (!std::strcmp(argv[i], "--device") && i + 1 < argc) {
      device = argv[++i];
    } else {
      Usage();
      return 2;
    }
  }

  TStartupObjects startup;
  std::unique_ptr<sim::TSimFocuser> simulator;
  TPortOpener opener;
  if (simulate) {
    simulator = std::make_unique<sim::TSimFocuser>();
    opener = simulator->Opener();
  } else {
    opener = [device](int n) -> std::unique_ptr<TSerialPort> {
      return OpenPosixSerialPort(device.empty() ? "/dev/ttyS" + std::to_string(n - 1) : device);
    };
  }

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
    WaitIdle(focuser);
    std::printf("\nMove to 0\n");
    host.Run([&] { focuser.MoveTo(0); });
    WaitIdle(focuser);
    Sleep(100);
    std::printf("\nEnded at %.4d\n", focuser.CTSCount());
    host.Run([&] { focuser.CancelMovement(); });
  }
  return 0;
}
