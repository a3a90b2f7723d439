// morvane-alpaca: an ASCOM Alpaca server for the focuser of the running Morvane.
//
//   morvane-alpaca [--listen ADDRESS] [--port N] [--discovery-port N]
//
// A client of Morvane's org.morvane.Focuser1 on the session bus; it never opens the serial
// port. Settings in $XDG_CONFIG_HOME/Morvane/Alpaca.ini; the options override them for a run.

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "alpaca/AlpacaForm.h"
#include "alpaca/AlpacaServer.h"
#include "alpaca/BusLink.h"
#include "alpaca/Discovery.h"

using namespace morvane::alpaca;

namespace {

constexpr char Usage[] =
    "usage: morvane-alpaca [--listen ADDRESS] [--port N] [--discovery-port N]\n"
    "  --listen ADDRESS     the IPv4 address to serve on (default 127.0.0.1; 0.0.0.0: all)\n"
    "  --port N             the HTTP port (default 11111)\n"
    "  --discovery-port N   the UDP discovery port (default 32227)\n"
    "Settings: $XDG_CONFIG_HOME/Morvane/Alpaca.ini. Alpaca has no authentication: serve only\n"
    "on a trusted network.\n";

bool Port(const char* text, int& port) {
  const auto v = ParseInt32(text ? text : "");
  if (!v || *v < 1 || *v > 65535) return false;
  port = *v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path = AlpacaSettingsPath();
  std::string warning;
  TServerInfo info;
  info.Settings = LoadAlpacaSettings(path, warning);
  info.SettingsPath = path;
  info.Version = MORVANE_ALPACA_VERSION;
  TAlpacaSettings& s = info.Settings;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
    if (a == "--help" || a == "-h") {
      std::fputs(Usage, stdout);
      return 0;
    } else if (a == "--version") {
      std::printf("morvane-alpaca %s\n", MORVANE_ALPACA_VERSION);
      return 0;
    } else if (a == "--listen" && next) {
      s.Listen = next;
    } else if (!((a == "--port" && Port(next, s.Port)) ||
                 (a == "--discovery-port" && Port(next, s.DiscoveryPort)))) {
      std::fputs(Usage, stderr);
      return 2;
    }
    ++i;
  }
  if (!warning.empty()) std::fprintf(stderr, "morvane-alpaca: %s\n", warning.c_str());

  // Signals are taken by one thread of their own; every other thread leaves them blocked.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  TBusLink link;
  TDeviceConfig config;
  if (s.MaxStepKept) {
    config.MaxStep = s.MaxStep;
    std::fprintf(stderr,
                 "morvane-alpaca: MaxStep=%d in %s is kept instead of Morvane's position scale "
                 "(INDI's FOCUS_MAX); remove it to share that one\n",
                 s.MaxStep, path.c_str());
  }
  config.StepSizeUm = StepSizeUm(s.MorvaneSettings);
  config.DriverVersion = MORVANE_ALPACA_DRIVER_VERSION;
  TAlpacaFocuser device(link, config);
  TAlpacaServer server(device, link, info);
  std::string error;
  if (!server.Bind(error)) {
    std::fprintf(stderr, "morvane-alpaca: %s\n", error.c_str());
    return 1;
  }
  TDiscovery discovery(s.Listen, s.DiscoveryPort, s.Port);
  if (!discovery.Ok())
    std::fprintf(stderr, "morvane-alpaca: no discovery: %s\n", discovery.Error().c_str());
  std::fprintf(stderr, "morvane-alpaca: focuser/0 on http://%s:%d/ (discovery on UDP %d)\n",
               s.Listen.c_str(), s.Port, s.DiscoveryPort);

  std::thread waiter([&] {
    int received = 0;
    sigwait(&signals, &received);
    server.Stop();
  });
  server.Run();
  // Run also ends without a signal when the listening socket fails: release the waiter.
  pthread_kill(waiter.native_handle(), SIGTERM);
  waiter.join();
  return 0;
}
