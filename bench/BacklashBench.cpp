// Backlash compensation benchmark on the simulated focuser, in real time: where the draw
// tube ends over moves to one target from alternating sides, with the compensation off and on.
//
//   morvane_backlash_bench [--moves N] [--play CODES] [--codes N] [--away CODES]

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "controller/DispatchHost.h"
#include "controller/Objects.h"
#include "platform/Signals.h"
#include "sim/SimFocuser.h"

using namespace morvane;

namespace {

struct TSpread {
  double Min = INFINITY, Max = -INFINITY;
  // The tube against the count: the shaft's own offset from the count taken out, so that
  // only the play beyond the encoder and the landing within a code show.
  double RelMin = INFINITY, RelMax = -INFINITY;
  int N = 0, TimedOut = 0;
};

void WaitRest(sim::TSimFocuser& s) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (s.Moving() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
}

// Moves to target from above and below in turn (a move of `away` codes past it first).
TSpread Run(double play, int moves, int32_t mode, int32_t codes, int32_t away) {
  sim::TSimParams params;
  params.TubePlay = play;
  sim::TSimFocuser focuser(params);
  TDispatchHost host;
  TFocusControl c(host, focuser.Opener());
  bool opened = false;
  host.Run([&] { opened = c.OpenPort(); });
  TSpread r;
  if (!opened) return r;
  c.SetStopFactor(12);
  c.SetNudgeTime(0.015);
  c.SetCloseNudgeTime(0.01);
  c.SetNudgeSleep(0.15);
  c.ApproachMode.store(mode);
  c.ApproachCodes.store(codes);
  constexpr int32_t Target = 200;
  const int32_t Away = away;
  auto moveTo = [&](int32_t t) {
    GeneralDelayEvent().ResetEvent();
    c.MoveTo(t);
    if (GeneralDelayEvent().WaitFor(20000) != TWaitResult::wrSignaled) {
      c.CancelMovementAndWait();
      return false;
    }
    WaitRest(focuser);
    return true;
  };
  for (int i = 0; i < moves; ++i) {
    if (!moveTo(i % 2 ? Target + Away : Target - Away) || !moveTo(Target)) {
      ++r.TimedOut;
      continue;
    }
    const double tube = focuser.TubePosition();
    if (std::getenv("MORVANE_BENCH_TRACE"))
      std::fprintf(stderr, "mode %d from %s: count %d sim %d shaft %.2f tube %.2f\n", mode,
                   i % 2 ? "above" : "below", c.CTSCount(), focuser.Position(),
                   focuser.ShaftPosition(), tube);
    r.Min = std::min(r.Min, tube);
    r.Max = std::max(r.Max, tube);
    const double rel = tube - focuser.ShaftPosition() + focuser.Position();
    r.RelMin = std::min(r.RelMin, rel);
    r.RelMax = std::max(r.RelMax, rel);
    ++r.N;
  }
  host.Run([&] { c.ClosePort(); });
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  int moves = 20;
  double play = 6.0;
  int32_t codes = 10;
  int32_t away = 60;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--moves"))
      moves = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--play"))
      play = std::atof(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--codes"))
      codes = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--away"))
      away = std::atoi(argv[i + 1]);
  }
  SetNamedEventScope("backlashbench" + std::to_string(getpid()));
  TStartupObjects startup;
  std::printf(
      "Tube over %d moves to one target from %d codes either side in turn, tube play %.1f codes\n",
      moves, away, play);
  std::printf("%-26s %8s %8s %8s %14s %6s\n", "compensation", "min", "max", "spread",
              "spread/count", "lost");
  const struct {
    const char* Name;
    int32_t Mode;
  } rows[] = {{"off", 0}, {"inward", 1}, {"outward", 2}};
  for (const auto& row : rows) {
    const TSpread r = Run(play, moves, row.Mode, codes, away);
    std::string name = row.Name;
    if (row.Mode) name += ", " + std::to_string(codes) + " codes";
    std::printf("%-26s %8.2f %8.2f %8.2f %14.2f %6d\n", name.c_str(), r.Min, r.Max, r.Max - r.Min,
                r.RelMax - r.RelMin, r.TimedOut);
  }
  return 0;
}
