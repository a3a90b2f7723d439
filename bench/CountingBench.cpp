// Counting benchmark: the share of encoder counts the controller loses while the simulated
// shaft turns at fixed rates, on a UART (whose line counters see every edge, so nothing may be
// lost), quiet and with CPU-bound processes beside it, without line counters (one count per
// event, as before), and on USB adapters that send the line levels once per latency interval.
// Not part of the test suite.

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
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

namespace morvane {
namespace {

using Clock = std::chrono::steady_clock;

constexpr double UartRates[] = {2000, 5000, 10000, 20000};             // CTS changes per second
constexpr double AdapterRates[] = {125, 250, 500, 1000, 2000, 5000};   // the same, slower
constexpr int AdapterLatenciesUs[] = {1000, 2000, 4000, 8000, 16000};  // latency timer settings

struct TOptions {
  bool Json = false;
  int Trials = 5;
  int Load = 2;  // CPU-bound processes in the loaded rows
};

// CPU-bound child processes, ended by their ids when the row is done.
class TCpuLoad {
 public:
  explicit TCpuLoad(int n) {
    for (int i = 0; i < n; ++i) {
      const pid_t pid = fork();
      if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // gone with the benchmark, however it ends
        if (getppid() == 1) _exit(0);
        volatile unsigned long spin = 0;
        for (;;) spin = spin + 1;
      }
      if (pid > 0) FChildren.push_back(pid);
    }
  }
  ~TCpuLoad() {
    for (pid_t pid : FChildren) kill(pid, SIGKILL);
    for (pid_t pid : FChildren) waitpid(pid, nullptr, 0);
  }
  TCpuLoad(const TCpuLoad&) = delete;
  TCpuLoad& operator=(const TCpuLoad&) = delete;

 private:
  std::vector<pid_t> FChildren;
};

int CodesFor(double rateHz, int least) {
  return std::max(least, static_cast<int>(rateHz * 0.1 / 2));
}

// Counts lost when the shaft turns codes at rateHz CTS changes per second: the difference
// between the controller's count and the encoder once the count has settled.
long Lost(const sim::TSimParams& params, int codes, double rateHz, bool turnBack = false) {
  sim::TSimFocuser focuser(params);
  TDispatchHost host;
  TFocusControl c(host, focuser.Opener());
  c.TervixEnable.store(false);
  bool opened = false;
  host.Run([&] { opened = c.OpenPort(); });
  if (!opened) return codes;
  // The shaft turns from rest: its first change is seen alone, as a motor starting.
  focuser.SetEncoderLines(true, false);
  const auto first = Clock::now() + std::chrono::milliseconds(500);
  while (c.CTSCount() != focuser.Position() && Clock::now() < first)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  focuser.Turn(codes, rateHz);
  // Turned back at once at full rate, harder than any motor: a reader late across the turn
  // cannot tell the order of the changes it finds.
  if (turnBack) focuser.Turn(-codes / 2, rateHz);
  const auto end = Clock::now() + std::chrono::milliseconds(200);
  while (c.CTSCount() != focuser.Position() && Clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  const long lost = std::labs(long{focuser.Position()} - c.CTSCount());
  host.Run([&] { c.ClosePort(); });
  return lost;
}

struct TRow {
  std::string Name;
  std::vector<double> Rates;
  std::vector<double> Loss;  // share of counts lost, per rate
  std::vector<long> Counts;  // counts turned, per rate
};

TRow Measure(const std::string& name, const sim::TSimParams& params, const double* rates, size_t n,
             int trials, int leastCodes, bool turnBack = false) {
  TRow row{name, {}, {}, {}};
  for (size_t i = 0; i < n; ++i) {
    long lost = 0, total = 0;
    const int codes = CodesFor(rates[i], leastCodes);
    for (int t = 0; t < trials; ++t) {
      lost += Lost(params, codes, rates[i], turnBack);
      total += turnBack ? codes + codes / 2 : codes;
    }
    row.Rates.push_back(rates[i]);
    row.Loss.push_back(double(lost) / total);
    row.Counts.push_back(total);
  }
  return row;
}

void Usage(FILE* out) {
  std::fprintf(
      out,
      "usage: morvane_counting_bench [--json] [--trials N] [--load N]\n"
      "Turns the simulated encoder at fixed rates (CTS changes per second) and prints the\n"
      "share of counts the controller loses: on a UART with line counters, quiet and with\n"
      "N CPU-bound processes it starts beside itself (default 2); without line counters;\n"
      "and on USB adapters per latency interval. N trials per rate (default 5).\n");
}

std::string JsonRow(const TRow& r) {
  std::string out = "{";
  for (size_t i = 0; i < r.Rates.size(); ++i) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s\"%.0f\": %.5f", i ? ", " : "", r.Rates[i], r.Loss[i]);
    out += buf;
  }
  return out + "}";
}

void PrintRow(const TRow& r) {
  std::printf("  %-34s", r.Name.c_str());
  for (size_t i = 0; i < r.Rates.size(); ++i)
    std::printf("  %5.0f Hz %6.2f %%", r.Rates[i], 100 * r.Loss[i]);
  std::printf("\n");
}

}  // namespace
}  // namespace morvane

int main(int argc, char** argv) {
  using namespace morvane;
  TOptions opt;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--json") {
      opt.Json = true;
    } else if (a == "--trials" && i + 1 < argc) {
      opt.Trials = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--load" && i + 1 < argc) {
      opt.Load = std::max(0, std::atoi(argv[++i]));
    } else {
      Usage(a == "--help" ? stdout : stderr);
      return a == "--help" ? 0 : 2;
    }
  }
  TStartupObjects startup;
  sim::TSimParams uart;
  uart.MergeEdges = true;
  sim::TSimParams bare = uart;
  bare.ModemCounters = false;
  std::vector<TRow> rows;
  rows.push_back(Measure("uart, quiet", uart, UartRates, std::size(UartRates), opt.Trials, 1000));
  {
    TCpuLoad load(opt.Load);
    rows.push_back(Measure("uart, " + std::to_string(opt.Load) + " CPU-bound beside", uart,
                           UartRates, std::size(UartRates), opt.Trials, 1000));
    rows.push_back(Measure("uart turning back, " + std::to_string(opt.Load) + " CPU-bound", uart,
                           UartRates, std::size(UartRates), opt.Trials, 1000, true));
    rows.push_back(Measure("no counters, " + std::to_string(opt.Load) + " CPU-bound beside", bare,
                           UartRates, std::size(UartRates), opt.Trials, 1000));
  }
  rows.push_back(
      Measure("no counters, quiet", bare, UartRates, std::size(UartRates), opt.Trials, 1000));
  std::vector<TRow> adapters;
  for (int latency : AdapterLatenciesUs) {
    sim::TSimParams usb;
    usb.AdapterLatencyUs = latency;
    adapters.push_back(Measure("usb adapter, " + std::to_string(latency / 1000) + " ms", usb,
                               AdapterRates, std::size(AdapterRates), 1, 100));
  }
  if (opt.Json) {
    std::printf(
        "{\"trials_per_rate\": %d, \"load_processes\": %d,\n \"uart_quiet\": %s,\n"
        " \"uart_loaded\": %s,\n \"uart_turning_back_loaded\": %s,\n"
        " \"no_counters_loaded\": %s,\n \"no_counters_quiet\": %s,\n"
        " \"usb_adapter\": {",
        opt.Trials, opt.Load, JsonRow(rows[0]).c_str(), JsonRow(rows[1]).c_str(),
        JsonRow(rows[2]).c_str(), JsonRow(rows[3]).c_str(), JsonRow(rows[4]).c_str());
    for (size_t i = 0; i < adapters.size(); ++i)
      std::printf("%s\n  \"%d\": %s", i ? "," : "", AdapterLatenciesUs[i],
                  JsonRow(adapters[i]).c_str());
    std::printf("}}\n");
    return 0;
  }
  std::printf(
      "Counts lost while the encoder turns at fixed rates (CTS changes per second), %d "
      "trials per rate:\n",
      opt.Trials);
  for (const TRow& r : rows) PrintRow(r);
  std::printf(
      "USB adapters, the levels sent once per latency interval (1 trial of at least 100 "
      "codes per rate):\n");
  for (const TRow& r : adapters) PrintRow(r);
  return 0;
}
