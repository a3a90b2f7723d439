// The tty port's modem wait on a pseudo-terminal whose modem lines the benchmark plays with the
// kernel's semantics: what opening costs (the check that the line can wait), how often the
// watcher reads the counters while the encoder is still and while it turns, and how many edges
// a waiting thread reports at a steady rate.
//
//   morvane_tty_bench [--seconds S] [--rate HZ]

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/KernelModemLines.h"
#include "platform/PosixSerialPort.h"
#include "platform/PtyPair.h"

using namespace morvane;
using Clock = std::chrono::steady_clock;

namespace {

// Counts the counter reads of the port under test.
class TCountingIo final : public TModemIo {
 public:
  TCountingIo(std::unique_ptr<TModemIo> io, std::atomic<long>& reads)
      : FIo(std::move(io)), FReads(reads) {}
  int GetLines(int fd, int& lines) override { return FIo->GetLines(fd, lines); }
  int ChangeLines(int fd, int lines, bool raise) override {
    return FIo->ChangeLines(fd, lines, raise);
  }
  int GetCounts(int fd, TModemCounts& counts) override {
    ++FReads;
    return FIo->GetCounts(fd, counts);
  }
  int WaitChange(int fd, int lines) override { return FIo->WaitChange(fd, lines); }

 private:
  std::unique_ptr<TModemIo> FIo;
  std::atomic<long>& FReads;
};

double ProcessCpuMs() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
         (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 3;
  double rate = 1000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--seconds")) seconds = std::atof(argv[i + 1]);
    if (!std::strcmp(argv[i], "--rate")) rate = std::atof(argv[i + 1]);
  }
  test::TPtyPair pty;
  if (!pty.Ok()) {
    std::fprintf(stderr, "no pseudo-terminal\n");
    return 1;
  }
  auto lines = std::make_shared<test::TKernelModemLines>();
  std::atomic<long> reads{0};

  // Opening, with the check that the line can wait for its modem lines.
  constexpr int Opens = 50;
  const auto openStart = Clock::now();
  for (int i = 0; i < Opens; ++i) {
    auto port = OpenPosixSerialPort(pty.SlavePath(), std::make_unique<test::TKernelModemIo>(lines));
    if (!port) return 1;
  }
  const double openMs =
      std::chrono::duration<double, std::milli>(Clock::now() - openStart).count() / Opens;

  auto port = OpenPosixSerialPort(
      pty.SlavePath(),
      std::make_unique<TCountingIo>(std::make_unique<test::TKernelModemIo>(lines), reads));
  if (!port) return 1;
  port->SetCommMask(EV_CTS);
  std::atomic<long> reported{0};
  std::thread waiter([&] {
    uint32_t events = 0;
    while (port->WaitCommEvent(events) && events != 0) ++reported;
  });

  // Still: the wait and its watcher alone, after the first second of closer checks.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  long before = reads;
  double cpuBefore = ProcessCpuMs();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const double stillReadsPerS = (reads - before) / seconds;
  const double stillCpuPct = (ProcessCpuMs() - cpuBefore) / (seconds * 10);

  // Turning: CTS changes at the rate, timed against absolute deadlines.
  before = reads;
  cpuBefore = ProcessCpuMs();
  const long changes = static_cast<long>(rate * seconds);
  const auto start = Clock::now();
  for (long i = 0; i < changes; ++i) {
    std::this_thread::sleep_until(start + std::chrono::duration<double>((i + 1) / rate));
    lines->Change(TIOCM_CTS);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const double turningReadsPerEdge = double(reads - before) / changes;
  const double turningCpuPct = (ProcessCpuMs() - cpuBefore) / (seconds * 10);
  const long got = reported;
  port->SetCommMask(0);
  waiter.join();

  std::printf("open with the wait check: %.2f ms\n", openMs);
  std::printf("still: %.2f counter reads/s, process CPU %.3f %%\n", stillReadsPerS, stillCpuPct);
  std::printf(
      "turning at %.0f Hz: %ld changes, %ld reported (%.2f %% merged), %.2f counter reads per "
      "change, process CPU %.2f %%\n",
      rate, changes, got, 100.0 * (changes - got) / changes, turningReadsPerEdge, turningCpuPct);
  std::printf(
      "{\"open_ms\": %.3f, \"still_reads_per_s\": %.3f, \"still_cpu_pct\": %.4f, "
      "\"rate_hz\": %.0f, \"changes\": %ld, \"reported\": %ld, \"reads_per_change\": %.3f, "
      "\"turning_cpu_pct\": %.3f}\n",
      openMs, stillReadsPerS, stillCpuPct, rate, changes, got, turningReadsPerEdge, turningCpuPct);
  return 0;
}
