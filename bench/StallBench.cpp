// Stall guard benchmark on the simulated focuser, in real time: how long after the encoder's
// last change a run into an end stop has its stop command on the line, at each speed; and
// how many healthy moves the guard stopped (false stalls) on each motor model.
//
//   morvane_stall_bench [--json] [--trials N] [--moves N]

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "controller/DispatchHost.h"
#include "controller/Objects.h"
#include "platform/Signals.h"
#include "sim/SimFocuser.h"
#include "sim/SimModels.h"

using namespace morvane;

namespace {

bool IsDrive(const sim::TTraceEntry& e) {
  return (e.Kind == sim::TTraceKind::Write && (e.Bytes == ":F-#" || e.Bytes == ":F+#")) ||
         (e.Kind == sim::TTraceKind::Line && e.Line == 'R' && e.Level);
}
bool IsStop(const sim::TTraceEntry& e) {
  return (e.Kind == sim::TTraceKind::Write && e.Bytes == ":FQ#") ||
         (e.Kind == sim::TTraceKind::Line && e.Line == 'R' && !e.Level);
}

template <typename P>
bool WaitUntil(P pred, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return pred();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

struct TLatency {
  std::string Speed;
  std::vector<double> Ms;  // last edge to stop command, per stall
  int Lost = 0;            // runs the guard did not stop in time
  double Quantile(double q) const {
    if (Ms.empty()) return 0;
    std::vector<double> s = Ms;
    std::sort(s.begin(), s.end());
    const size_t i = std::min(s.size() - 1, static_cast<size_t>(q * static_cast<double>(s.size())));
    return s[i];
  }
};

// Coarse runs into the end stops, up and down in turn, the stop 128 codes either way.
TLatency Latency(const char* speed, bool direct, bool fast, int trials) {
  TLatency r{speed, {}, 0};
  sim::TSimParams params;
  params.TravelRevs = 0.25;
  sim::TSimFocuser focuser(params);
  TDispatchHost host;
  TFocusControl c(host, focuser.Opener());
  bool opened = false;
  host.Run([&] { opened = c.OpenPort(); });
  if (!opened) return r;
  c.SetUseRTS_DTR(direct);
  c.FocusCommand(fast ? ":FF#" : ":FS#");
  for (int i = 0; i < trials; ++i) {
    focuser.ClearTrace();
    const uint64_t before = c.StallCount();
    const int64_t startUs = MonotonicMicros();
    c.StartMove(i % 2 == 0, 0);
    // The guard counts the stall just before its stop command goes out.
    std::vector<sim::TTraceEntry> trace;
    auto drive = trace.end(), stop = trace.end();
    const bool stopped = WaitUntil([&] { return c.StallCount() > before; }, 30000) &&
                         WaitUntil(
                             [&] {
                               trace = focuser.Trace();
                               // The run's drive and the first stop after it.
                               drive = std::find_if(trace.begin(), trace.end(), IsDrive);
                               stop = std::find_if(drive, trace.end(), IsStop);
                               return stop != trace.end();
                             },
                             5000);
    int64_t lastEdge = -1;
    if (stopped)
      for (auto it = drive; it != stop; ++it)
        if (it->Kind == sim::TTraceKind::Edge) lastEdge = it->Us;
    if (!stopped || lastEdge < 0) {
      ++r.Lost;
      if (std::getenv("MORVANE_BENCH_TRACE"))
        std::fprintf(stderr, "not stopped: count %d, stalls %llu after %lld ms\n", c.CTSCount(),
                     static_cast<unsigned long long>(c.StallCount()),
                     static_cast<long long>((MonotonicMicros() - startUs) / 1000));
      c.StopMotor();
      continue;
    }
    WaitUntil([&] { return !focuser.Moving(); }, 5000);
    r.Ms.push_back(static_cast<double>(stop->Us - lastEdge) / 1000.0);
  }
  host.Run([&] { c.ClosePort(); });
  return r;
}

struct TFalse {
  std::string Model;
  int Moves = 0, Stalls = 0, TimedOut = 0;
};

// Moves of 3 to 600 codes either way, in both drive modes, within the model's travel.
TFalse FalseStalls(const sim::TMotorModel& model, int moves) {
  TFalse r{model.Name};
  sim::TSimFocuser focuser(model.Params);
  TDispatchHost host;
  TFocusControl c(host, focuser.Opener());
  bool opened = false;
  host.Run([&] { opened = c.OpenPort(); });
  if (!opened) return r;
  c.SetStopFactor(12);
  c.SetNudgeTime(0.015);
  c.SetCloseNudgeTime(0.01);
  c.SetNudgeSleep(0.15);
  std::mt19937 random(1234);
  std::uniform_int_distribution<int> size(3, 600);
  for (int i = 0; i < moves; ++i) {
    c.SetUseRTS_DTR(i % 4 >= 2);
    const int32_t codes = size(random) * (i % 2 ? -1 : 1);
    GeneralDelayEvent().ResetEvent();
    c.MoveBy(codes);
    if (GeneralDelayEvent().WaitFor(30000) != TWaitResult::wrSignaled) {
      ++r.TimedOut;
      c.CancelMovementAndWait();
    }
    ++r.Moves;
  }
  r.Stalls = static_cast<int>(c.StallCount());
  host.Run([&] { c.ClosePort(); });
  return r;
}

std::string Num(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.1f", v);
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  bool json = false;
  int trials = 20;
  int moves = 40;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--json"))
      json = true;
    else if (!std::strcmp(argv[i], "--trials") && i + 1 < argc)
      trials = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--moves") && i + 1 < argc)
      moves = std::atoi(argv[++i]);
  }
  SetNamedEventScope("stallbench" + std::to_string(getpid()));
  TStartupObjects startup;
  std::printf(
      "Last encoder change to the stop command, coarse runs into an end stop, %d each "
      "(StallTime %.1f s)\n",
      trials, FactoryStallTime);
  std::printf("%-14s %8s %8s %8s %8s %6s\n", "speed", "min ms", "p50 ms", "p99 ms", "max ms",
              "lost");
  std::vector<TLatency> latencies;
  const struct {
    const char* Name;
    bool Direct, Fast;
  } speeds[] = {
      {"LX-200 slow", false, false}, {"LX-200 fast", false, true}, {"direct", true, false}};
  for (const auto& s : speeds) {
    latencies.push_back(Latency(s.Name, s.Direct, s.Fast, trials));
    const TLatency& l = latencies.back();
    std::printf("%-14s %8.1f %8.1f %8.1f %8.1f %6d\n", l.Speed.c_str(), l.Quantile(0),
                l.Quantile(0.5), l.Quantile(0.99), l.Quantile(1), l.Lost);
    std::fflush(stdout);
  }
  std::printf("\nFalse stalls over %d moves of 3 to 600 codes per model, both drive modes\n",
              moves);
  std::printf("%-12s %6s %8s %9s\n", "model", "moves", "stalls", "timed out");
  std::vector<TFalse> falses;
  for (const auto& m : sim::MotorModels()) {
    falses.push_back(FalseStalls(m, moves));
    const TFalse& f = falses.back();
    std::printf("%-12s %6d %8d %9d\n", f.Model.c_str(), f.Moves, f.Stalls, f.TimedOut);
    std::fflush(stdout);
  }
  if (json) {
    std::string out = "{\"stall_time_s\": " + Num(FactoryStallTime) + ", \"latency_ms\": {";
    for (size_t i = 0; i < latencies.size(); ++i) {
      const TLatency& l = latencies[i];
      out += std::string(i ? ", " : "") + "\"" + l.Speed +
             "\": {\"runs\": " + std::to_string(l.Ms.size()) +
             ", \"p50\": " + Num(l.Quantile(0.5)) + ", \"p99\": " + Num(l.Quantile(0.99)) +
             ", \"max\": " + Num(l.Quantile(1)) + ", \"lost\": " + std::to_string(l.Lost) + "}";
    }
    out += "}, \"false_stalls\": {";
    for (size_t i = 0; i < falses.size(); ++i) {
      const TFalse& f = falses[i];
      out += std::string(i ? ", " : "") + "\"" + f.Model +
             "\": {\"moves\": " + std::to_string(f.Moves) +
             ", \"stalls\": " + std::to_string(f.Stalls) +
             ", \"timed_out\": " + std::to_string(f.TimedOut) + "}";
    }
    out += "}}";
    std::printf("%s\n", out.c_str());
  }
  return 0;
}
