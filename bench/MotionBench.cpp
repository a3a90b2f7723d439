// Motion benchmark on the simulated focuser, in real time: how moves land, how soon a run is
// stopped, what the motion threads cost, and how fast an encoder can be counted.
//
//   morvane_bench [--json] [--moves N] [--model Name|all] [--set Name=Value]...
//                 [--skip-landing] [--skip-cost] [--skip-counting]

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "BenchParams.h"
#include "ThreadCpu.h"
#include "controller/DispatchHost.h"
#include "controller/Objects.h"
#include "platform/Signals.h"
#include "sim/SimFocuser.h"
#include "sim/SimModels.h"

using namespace morvane;
using morvane::bench::ProcessCpuSeconds;
using morvane::bench::ReadThreadCpu;
using Clock = std::chrono::steady_clock;

namespace {

struct TOptions {
  bool Json = false;
  int Moves = 40;  // per drive mode
  bool Landing = true;
  bool Cost = true;
  bool Counting = true;
  sim::TSimParams Params;
  // Landing runs on each of these models (the --set assignments apply to every one); none
  // given: every one.
  std::vector<std::string> Models;
  std::vector<std::string> Sets;
};

// The simulator's motor models, and the heavy one with play between motor and encoder: after
// a reversal the motor turns 6 codes before the count moves.
std::vector<sim::TMotorModel> LandingModels() {
  std::vector<sim::TMotorModel> models = sim::MotorModels();
  for (const auto& m : sim::MotorModels())
    if (std::string(m.Name) == "heavy") {
      sim::TSimParams p = m.Params;
      p.Backlash = 6;
      models.push_back({"heavy-play", "the heavy motor with 6 codes of play to its encoder", p});
    }
  return models;
}

bool FindLandingModel(const std::string& name, sim::TSimParams& params) {
  for (const auto& m : LandingModels())
    if (name == m.Name) {
      params = m.Params;
      return true;
    }
  return false;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return NAN;
  std::sort(v.begin(), v.end());
  const double pos = p / 100.0 * static_cast<double>(v.size() - 1);
  const size_t lo = static_cast<size_t>(pos);
  const size_t hi = std::min(lo + 1, v.size() - 1);
  return v[lo] + (v[hi] - v[lo]) * (pos - static_cast<double>(lo));
}

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// A benchmark host that does on its GUI thread what the main window will do with every
// count: take the newest one, posting at most one hand-over at a time.
class TReadout {
 public:
  explicit TReadout(TDispatchHost& host) : Host(host) {}
  void Attach(TFocusControl& c) {
    c.OnCTSChange = [this](TFocusControl*, int32_t count, bool) {
      Latest.store(count, std::memory_order_relaxed);
      if (!Pending.exchange(true, std::memory_order_acq_rel))
        Host.Post([this] {
          Pending.store(false, std::memory_order_release);
          Shown = Latest.load(std::memory_order_relaxed);
        });
    };
  }
  TDispatchHost& Host;
  std::atomic<int32_t> Latest{0};
  std::atomic<bool> Pending{false};
  int32_t Shown = 0;  // GUI thread only
};

// A controller on its own simulated focuser, with the readout attached, port open.
struct TRig {
  explicit TRig(const sim::TSimParams& params)
      : Focuser(params), Readout(Host), C(Host, Focuser.Opener()) {
    Readout.Attach(C);
  }
  bool Open() {
    bool opened = false;
    Host.Run([&] { opened = C.OpenPort(); });
    if (!opened) std::fprintf(stderr, "could not open the simulated port\n");
    return opened;
  }
  sim::TSimFocuser Focuser;
  TDispatchHost Host;
  TReadout Readout;
  TFocusControl C;
};

void FactorySettings(TFocusControl& c) {
  c.SetStopFactor(12);
  c.SetNudgeTime(0.015);
  c.SetCloseNudgeTime(0.01);
  c.SetNudgeSleep(0.15);
}

bool WaitRest(sim::TSimFocuser& s, int ms) {
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (s.Moving() && Clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  return !s.Moving();
}

struct TLandingMode {
  std::map<int, int> ErrorHistogram;  // (final - target) in the direction of the move
  int OnOrOnePast = 0;                // in the direction of the move
  int OnOrOnePastApproach = 0;        // in the direction of the final approach (a run that coasted
                                      // past is nudged back, and lands one past coming back)
  int Total = 0;
  int MaxAbsError = 0;
  int TimedOut = 0;  // moves that did not finish within the bound and were cancelled
};

struct TLandingResult {
  std::string Model;
  TLandingMode Mode[2];              // LX-200, direct
  int CountMismatches = 0;           // controller count differing from the shaft's
  std::vector<double> MoveMs;        // all moves
  std::vector<double> Move100Ms;     // moves of 100 codes
  std::vector<double> LatencyUs[2];  // edge reaching the stop point to the stop, per mode
};

// The direction of the last drive of a move: +1 toward rising codes, -1 the other way; 0 when
// none is found. From the position at the last drive on the line and the target, since the
// nudges always drive toward it (downwards when they start on it).
int ApproachDirection(const std::vector<sim::TTraceEntry>& trace, int32_t target, bool direct) {
  for (auto it = trace.rbegin(); it != trace.rend(); ++it) {
    const bool drive = direct ? (it->Kind == sim::TTraceKind::Line && it->Line == 'R' && it->Level)
                              : (it->Kind == sim::TTraceKind::Write &&
                                 (it->Bytes == ":F-#" || it->Bytes == ":F+#"));
    if (drive) return it->Position < target ? 1 : -1;
  }
  return 0;
}

// The stop of a run: from the encoder edge that reaches the stop point to the first stop on
// the line (the ":FQ#" write in command mode, RTS cleared in direct mode).
double StopLatencyUs(const std::vector<sim::TTraceEntry>& trace, int32_t stopPoint, bool up,
                     bool direct) {
  int64_t edgeUs = -1;
  for (const auto& e : trace) {
    if (edgeUs < 0) {
      if (e.Kind == sim::TTraceKind::Edge && e.Line == 'C' &&
          (up ? e.Position >= stopPoint : e.Position <= stopPoint))
        edgeUs = e.Us;
      continue;
    }
    const bool stop = direct ? (e.Kind == sim::TTraceKind::Line && e.Line == 'R' && !e.Level)
                             : (e.Kind == sim::TTraceKind::Write && e.Bytes == ":FQ#");
    if (stop) return static_cast<double>(e.Us - edgeUs);
  }
  return NAN;
}

void RunLanding(const TOptions& opt, const sim::TSimParams& params, TLandingResult& r) {
  TRig rig(params);
  auto& focuser = rig.Focuser;
  auto& host = rig.Host;
  auto& c = rig.C;
  FactorySettings(c);
  if (!rig.Open()) return;
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> size(1, 250);
  for (int mode = 0; mode < 2; ++mode) {
    TLandingMode& m = r.Mode[mode];
    c.SetUseRTS_DTR(mode == 1);
    for (int i = 0; i < opt.Moves; ++i) {
      // Every fifth move is 100 codes, for the move time; the rest are spread over 1..250.
      // Directions alternate so the focuser stays near the middle of its travel.
      const int magnitude = i % 5 == 0 ? 100 : size(rng);
      const int delta = (i % 2 == 0) ? magnitude : -magnitude;
      const int32_t target = c.CTSCount() + delta;
      focuser.ClearTrace();
      GeneralDelayEvent().ResetEvent();
      const auto t0 = Clock::now();
      host.Run([&] { c.MoveBy(delta); });
      if (GeneralDelayEvent().WaitFor(30000) != TWaitResult::wrSignaled) {
        // Waited out, so that its late closing signal cannot end the next move's wait.
        std::fprintf(stderr, "\n%s: move %+d did not finish within 30 s\n", r.Model.c_str(), delta);
        ++m.TimedOut;
        host.Run([&] { c.CancelMovementAndWait(); });
        GeneralDelayEvent().ResetEvent();
      }
      const double ms = Ms(Clock::now() - t0);
      WaitRest(focuser, 2000);
      const int32_t final = c.CTSCount();
      if (final != focuser.Position()) ++r.CountMismatches;
      const int err = (final - target) * (delta > 0 ? 1 : -1);
      const auto trace = focuser.Trace();
      const int approach = ApproachDirection(trace, target, mode == 1);
      const int approachErr = (final - target) * approach;
      ++m.ErrorHistogram[err];
      ++m.Total;
      m.OnOrOnePast += err == 0 || err == 1;
      m.OnOrOnePastApproach += final == target || approachErr == 1;
      m.MaxAbsError = std::max(m.MaxAbsError, std::abs(err));
      r.MoveMs.push_back(ms);
      if (magnitude == 100) r.Move100Ms.push_back(ms);
      if (magnitude >= c.StopFactor() + 2) {
        const int32_t stopPoint = target + (delta > 0 ? -c.StopFactor() : c.StopFactor());
        const double us = StopLatencyUs(trace, stopPoint, delta > 0, mode == 1);
        if (!std::isnan(us)) r.LatencyUs[mode].push_back(us);
      }
      if (!opt.Json)
        std::fprintf(stderr, "\r%s %s move %3d/%d: %+4d -> error %+d, %.0f ms   ", r.Model.c_str(),
                     mode ? "direct" : "LX-200", i + 1, opt.Moves, delta, err, ms);
    }
  }
  if (!opt.Json) std::fprintf(stderr, "\n");
}

bool IsMotionThread(const std::string& name) {
  return name == "mrv-endmove" || name == "mrv-nudge" || name == "mrv-moveit" ||
         name == "mrv-starter";
}

struct TCostResult {
  double RunCpuFraction = NAN;
  double IdleCpuFraction = NAN;
};

void RunCost(const TOptions& opt, TCostResult& r) {
  TRig rig(opt.Params);
  auto& focuser = rig.Focuser;
  auto& host = rig.Host;
  auto& c = rig.C;
  FactorySettings(c);
  if (!rig.Open()) return;

  // Idle with the port open: the keep-alive ticks, everything else waits.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const double idleCpu0 = ProcessCpuSeconds();
  const auto idle0 = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(5));
  r.IdleCpuFraction = (ProcessCpuSeconds() - idleCpu0) / (Ms(Clock::now() - idle0) / 1000.0);

  // A long move: the motion threads' time is the process's time less that of the threads
  // that live through it (the counting thread, the simulator, the GUI thread, this one).
  double motionCpu = 0, seconds = 0;
  for (int i = 0; i < 6; ++i) {
    const int delta = i % 2 == 0 ? 240 : -240;
    auto before = ReadThreadCpu();
    const double cpu0 = ProcessCpuSeconds();
    GeneralDelayEvent().ResetEvent();
    const auto t0 = Clock::now();
    host.Run([&] { c.MoveBy(delta); });
    GeneralDelayEvent().WaitFor(60000);
    const double elapsed = Ms(Clock::now() - t0) / 1000.0;
    const double cpu = ProcessCpuSeconds() - cpu0;
    auto after = ReadThreadCpu();
    double others = 0;
    for (auto& [tid, t] : after)
      if (!IsMotionThread(t.Name) && before.count(tid)) others += t.Seconds - before[tid].Seconds;
    motionCpu += std::max(0.0, cpu - others);
    seconds += elapsed;
    WaitRest(focuser, 2000);
  }
  r.RunCpuFraction = motionCpu / seconds;
}

struct TCountingResult {
  static constexpr double LossRates[] = {2000, 5000, 10000, 20000};
  static constexpr int LossTrials = 5;  // per reader and rate, taken in turn
  double CountingRateHz = 0;
  double ReferenceRateHz = 0;
  int LadderTrials[2] = {0, 0};  // trials the no-loss rates rest on, controller and reference
  std::vector<double> ControllerLoss, ReferenceLoss;  // share of counts lost, per LossRates
  std::vector<long> CountsPerRate;                    // counts turned per reader and rate
};

// Counts lost when the shaft turns at rateHz CTS changes per second (0: followed).
int LostController(const sim::TSimParams& params, double rateHz) {
  TRig rig(params);
  auto& focuser = rig.Focuser;
  auto& c = rig.C;
  c.TervixEnable.store(false);
  const int codes = std::max(1000, static_cast<int>(rateHz * 0.1 / 2));
  if (!rig.Open()) return codes;
  focuser.Turn(codes, rateHz);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return std::abs(codes - c.CTSCount());
}

// The same with the barest reader: wait, read the status, count the rising edges.
int LostReference(const sim::TSimParams& params, double rateHz) {
  const int codes = std::max(1000, static_cast<int>(rateHz * 0.1 / 2));
  sim::TSimFocuser focuser(params);
  auto port = focuser.Open();
  if (!port) return codes;
  std::atomic<int32_t> count{0};
  std::atomic<bool> stop{false};
  port->SetCommMask(EV_CTS);
  std::thread reader([&] {
    SetCurrentThreadPriority(TThreadPriority::tpHighest);
    while (!stop.load()) {
      uint32_t ev = 0;
      if (!port->WaitCommEvent(ev) || ev != EV_CTS) continue;
      port->SetCommMask(EV_CTS);
      uint32_t st = 0;
      port->GetCommModemStatus(st);
      if (st & MS_CTS_ON) count.fetch_add(st & MS_DSR_ON ? -1 : 1);
    }
  });
  focuser.Turn(codes, rateHz);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const int lost = std::abs(codes - count.load());
  stop.store(true);
  port->SetCommMask(0);
  reader.join();
  port->Close();
  return lost;
}

// The highest rate of a doubling ladder, refined by halves, at which a reader passes three
// trials running. The controller and the bare reader take their trials in turn at each rate,
// so that both meet the same machine: on a real UART (merged changes, live levels) a count is
// lost whenever a reader wakes later than a quarter encoder cycle, so the figures follow the
// tail of the system's wake-up latency.
void RunCounting(const TOptions& opt, TCountingResult& r) {
  sim::TSimParams params = opt.Params;
  params.MergeEdges = true;
  auto passes = [&](bool controller, double rate) {
    for (int i = 0; i < 3; ++i) {
      ++r.LadderTrials[controller ? 0 : 1];
      if ((controller ? LostController(params, rate) : LostReference(params, rate)) != 0)
        return false;
    }
    return true;
  };
  double good[2] = {0, 0}, bad[2] = {0, 0};
  for (double rate = 250; rate <= 1.6e6 && (bad[0] == 0 || bad[1] == 0); rate *= 2)
    for (int k = 0; k < 2; ++k)
      if (bad[k] == 0) (passes(k == 0, rate) ? good[k] : bad[k]) = rate;
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 2; ++k) {
      if (good[k] == 0 || bad[k] == 0) continue;
      const double mid = (good[k] + bad[k]) / 2;
      (passes(k == 0, mid) ? good[k] : bad[k]) = mid;
    }
  r.CountingRateHz = good[0];
  r.ReferenceRateHz = good[1];
  // The no-loss rates follow rare late wake-ups; the share of counts lost at fixed rates,
  // over trials taken in turn, compares the two readers more steadily.
  for (double rate : TCountingResult::LossRates) {
    long lost[2] = {0, 0}, total = 0;
    for (int i = 0; i < TCountingResult::LossTrials; ++i) {
      lost[0] += LostController(params, rate);
      lost[1] += LostReference(params, rate);
      total += std::max(1000, static_cast<int>(rate * 0.1 / 2));
    }
    r.CountsPerRate.push_back(total);
    r.ControllerLoss.push_back(double(lost[0]) / total);
    r.ReferenceLoss.push_back(double(lost[1]) / total);
  }
}

void Usage(FILE* out) {
  std::fprintf(
      out,
      "usage: morvane_bench [--json] [--moves N] [--model Name|all] [--set Name=Value]...\n"
      "                     [--skip-landing] [--skip-cost] [--skip-counting]\n"
      "Runs the simulated focuser in real time at the factory settings (stop factor 12,\n"
      "nudge 0.015 s, close 0.01 s, delay 0.15 s). N moves per drive mode (default 40).\n"
      "--model (repeatable) picks the motor models the landing runs on (default: all):\n");
  for (const auto& m : LandingModels()) std::fprintf(out, "  %-26s %s\n", m.Name, m.Description);
  std::fprintf(
      out,
      "Simulator parameters (--set Name=Value, applied to every model; defaults in brackets):\n");
  const sim::TSimParams defaults;
  for (const auto& f : bench::ParamFields())
    std::fprintf(out, "  %-26s %-52s [%g]\n", f.Name, f.Help, f.Get(defaults));
}

}  // namespace

int main(int argc, char** argv) {
  TOptions opt;
  bool modelsGiven = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    std::string error;
    if (a == "--json") {
      opt.Json = true;
    } else if (a == "--moves" && i + 1 < argc) {
      opt.Moves = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--model" && i + 1 < argc) {
      const std::string name = argv[++i];
      if (!modelsGiven) opt.Models.clear();
      modelsGiven = true;
      if (name == "all") {
        for (const auto& m : LandingModels()) opt.Models.push_back(m.Name);
      } else {
        sim::TSimParams p;
        if (!FindLandingModel(name, p)) {
          std::fprintf(stderr, "morvane_bench: unknown model: %s\n", name.c_str());
          return 2;
        }
        opt.Models.push_back(name);
      }
    } else if (a == "--set" && i + 1 < argc) {
      opt.Sets.push_back(argv[++i]);
      if (!bench::ApplyParam(opt.Params, opt.Sets.back(), error)) {
        std::fprintf(stderr, "morvane_bench: %s\n", error.c_str());
        return 2;
      }
    } else if (a == "--skip-landing") {
      opt.Landing = false;
    } else if (a == "--skip-cost") {
      opt.Cost = false;
    } else if (a == "--skip-counting") {
      opt.Counting = false;
    } else if (a == "--help" || a == "-h") {
      Usage(stdout);
      return 0;
    } else {
      Usage(stderr);
      return 2;
    }
  }

  // Its own events, so that a program running beside it is neither disturbed nor disturbs.
  SetNamedEventScope("bench" + std::to_string(getpid()));
  TStartupObjects startup;
  std::vector<TLandingResult> landings;
  TCostResult cost;
  TCountingResult counting;
  if (opt.Models.empty())
    for (const auto& m : LandingModels()) opt.Models.push_back(m.Name);
  if (opt.Landing)
    for (const auto& name : opt.Models) {
      sim::TSimParams params;
      FindLandingModel(name, params);
      std::string error;
      for (const auto& set : opt.Sets) bench::ApplyParam(params, set, error);
      landings.push_back({});
      landings.back().Model = name;
      RunLanding(opt, params, landings.back());
    }
  if (opt.Cost) RunCost(opt, cost);
  if (opt.Counting) RunCounting(opt, counting);

  auto num = [](double v) {
    char buf[64];
    if (std::isnan(v)) return std::string("null");
    std::snprintf(buf, sizeof buf, "%.6g", v);
    return std::string(buf);
  };
  auto share = [](int n, int total) { return total ? double(n) / total : NAN; };
  auto losses = [&](const std::vector<double>& v) {
    std::string out;
    for (size_t i = 0; i < v.size(); ++i)
      out += (i ? ", \"" : "\"") + std::to_string(int(TCountingResult::LossRates[i])) +
             "\": " + num(v[i]);
    return out;
  };
  if (opt.Json) {
    std::string models;
    for (const auto& l : landings) {
      std::string modes;
      for (int k = 0; k < 2; ++k) {
        const TLandingMode& m = l.Mode[k];
        std::string hist;
        for (auto& [err, n] : m.ErrorHistogram)
          hist += (hist.empty() ? "" : ", ") + std::string("\"") + std::to_string(err) +
                  "\": " + std::to_string(n);
        modes += std::string(k ? ", " : "") + "\"" + (k ? "direct" : "lx200") +
                 "\": {\"moves\": " + std::to_string(m.Total) +
                 ", \"on_target_or_one_past\": " + num(share(m.OnOrOnePast, m.Total)) +
                 ", \"on_target_or_one_past_final_approach\": " +
                 num(share(m.OnOrOnePastApproach, m.Total)) +
                 ", \"max_abs_error\": " + std::to_string(m.MaxAbsError) +
                 ", \"timed_out\": " + std::to_string(m.TimedOut) + ", \"error_histogram\": {" +
                 hist + "}}";
      }
      models += std::string(models.empty() ? "" : ", ") + "\"" + l.Model + "\": {" + modes +
                ", \"count_mismatches\": " + std::to_string(l.CountMismatches) +
                ", \"move_time_ms_median_100\": " + num(Percentile(l.Move100Ms, 50)) +
                ", \"move_time_ms_p90_all\": " + num(Percentile(l.MoveMs, 90)) +
                ", \"stop_latency_direct_us_p50\": " + num(Percentile(l.LatencyUs[1], 50)) +
                ", \"stop_latency_direct_us_p99\": " + num(Percentile(l.LatencyUs[1], 99)) +
                ", \"stop_latency_lx200_us_p50\": " + num(Percentile(l.LatencyUs[0], 50)) +
                ", \"stop_latency_lx200_us_p99\": " + num(Percentile(l.LatencyUs[0], 99)) + "}";
    }
    std::string counts;
    for (size_t i = 0; i < counting.CountsPerRate.size(); ++i)
      counts += (i ? ", \"" : "\"") + std::to_string(int(TCountingResult::LossRates[i])) +
                "\": " + std::to_string(counting.CountsPerRate[i]);
    std::printf(
        "{\"moves_per_mode\": %d, \"landing\": {%s}, "
        "\"run_cpu_fraction\": %s, \"idle_cpu_fraction\": %s, "
        "\"counting_loss\": {%s}, \"reference_loss\": {%s}, \"loss_trials_per_rate\": %d, "
        "\"loss_counts_per_rate\": {%s}, "
        "\"counting_rate_hz\": %s, \"reference_rate_hz\": %s, \"ladder_trials\": [%d, %d]}\n",
        opt.Moves, models.c_str(), num(cost.RunCpuFraction).c_str(),
        num(cost.IdleCpuFraction).c_str(), losses(counting.ControllerLoss).c_str(),
        losses(counting.ReferenceLoss).c_str(), TCountingResult::LossTrials, counts.c_str(),
        num(counting.CountingRateHz).c_str(), num(counting.ReferenceRateHz).c_str(),
        counting.LadderTrials[0], counting.LadderTrials[1]);
    return 0;
  }
  for (const auto& l : landings) {
    std::printf("Landing on the %s motor (%d moves per mode):\n", l.Model.c_str(), opt.Moves);
    for (int k = 0; k < 2; ++k) {
      const TLandingMode& m = l.Mode[k];
      std::printf(
          "  %-7s %.1f %% on the target or one past (%.1f %% counted in the direction of "
          "the final approach), largest error %d codes, %d timed out\n    error (codes past "
          "the target in the move's direction): ",
          k ? "direct" : "LX-200", 100 * share(m.OnOrOnePast, m.Total),
          100 * share(m.OnOrOnePastApproach, m.Total), m.MaxAbsError, m.TimedOut);
      for (auto& [err, n] : m.ErrorHistogram) std::printf("%+d: %d  ", err, n);
      std::printf("\n");
    }
    std::printf("  %d count mismatches; move of 100 codes: median %.0f ms; all moves p90 %.0f ms\n",
                l.CountMismatches, Percentile(l.Move100Ms, 50), Percentile(l.MoveMs, 90));
    std::printf(
        "  stop latency, edge at the stop point to the stop on the line: direct median "
        "%.0f us, p99 %.0f us (goal p99 < 1000 us); LX-200 (after its 20 ms purge) "
        "median %.0f us, p99 %.0f us\n",
        Percentile(l.LatencyUs[1], 50), Percentile(l.LatencyUs[1], 99),
        Percentile(l.LatencyUs[0], 50), Percentile(l.LatencyUs[0], 99));
  }
  if (opt.Cost)
    std::printf(
        "Cost: motion threads %.2f %% of a core during a run (goal < 5 %%), whole program "
        "%.2f %% idle with the port open (goal < 0.5 %%)\n",
        100 * cost.RunCpuFraction, 100 * cost.IdleCpuFraction);
  if (opt.Counting) {
    std::printf(
        "Counting on a real UART's merged edges: share of counts lost (controller with the "
        "readout hand-over / bare reference), %d trials of each at each rate, taken in "
        "turn:\n",
        TCountingResult::LossTrials);
    for (size_t i = 0; i < counting.ControllerLoss.size(); ++i)
      std::printf("  %6.0f edges/s: %.4f / %.4f  (%ld counts per reader in all)\n",
                  TCountingResult::LossRates[i], counting.ControllerLoss[i],
                  counting.ReferenceLoss[i], counting.CountsPerRate[i]);
    std::printf(
        "  highest rate without any loss in 3 trials running: %.0f / %.0f edges/s "
        "(%d / %d trials; 0: a count was lost already at 250 edges/s, as on a loaded "
        "machine)\n",
        counting.CountingRateHz, counting.ReferenceRateHz, counting.LadderTrials[0],
        counting.LadderTrials[1]);
  }
  return 0;
}
