// A flood of superseding moves on the simulated focuser, as other programs' messages bring
// them to the GUI thread one after another: how long until the last has landed, and how many
// threads the process held at most.
//
//   morvane_flood_bench [N]   (default 10000)

#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "controller/DispatchHost.h"
#include "controller/Objects.h"
#include "platform/Signals.h"
#include "sim/SimFocuser.h"

using namespace morvane;
using Clock = std::chrono::steady_clock;

namespace {

int ThreadCount() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/task")) {
    while (const dirent* e = readdir(d))
      if (e->d_name[0] != '.') ++n;
    closedir(d);
  }
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  const int moves = argc > 1 ? std::atoi(argv[1]) : 10000;
  SetNamedEventScope("flood" + std::to_string(getpid()));
  TStartupObjects startup;
  TDispatchHost host;
  sim::TSimFocuser sim;
  TFocusControl controller(host, sim.Opener());
  controller.SetStopFactor(12);
  if (!controller.OpenPort()) return 1;
  std::atomic<bool> done{false};
  std::atomic<int> peak{ThreadCount()};
  std::thread watcher([&] {
    while (!done.load()) {
      const int n = ThreadCount();
      if (n > peak.load()) peak.store(n);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  const int32_t last = 40;
  const auto start = Clock::now();
  for (int i = 0; i < moves; ++i) {
    const int32_t target = i + 1 == moves ? last : (i % 2 ? 200 : -200);
    host.Run([&] { controller.MoveTo(target); });
  }
  const auto sent = Clock::now();
  while (controller.MovementRunning() || !controller.Idle())
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  const auto end = Clock::now();
  done.store(true);
  watcher.join();
  auto s = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
  std::printf(
      "moves %d: sent in %.2f s, landed after %.2f s, peak threads %d, count %d (last %d)\n", moves,
      s(sent - start), s(end - start), peak.load(), controller.CTSCount(), last);
  return 0;
}
