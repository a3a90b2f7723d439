#pragma once
// Helpers for the simulated-focuser tests: a counting reader like the controller's, waits
// with a limit, and trace filters.

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/SerialPort.h"
#include "sim/SimFocuser.h"

namespace morvane::sim::test {

using namespace std::chrono_literals;
using TSteady = std::chrono::steady_clock;

inline void SleepFor(std::chrono::microseconds d) {
  std::this_thread::sleep_for(d);
}

// Polls until pred holds or the limit passes; returns whether it held. Limits are generous:
// sanitizer builds on two cores are slow.
inline bool WaitFor(const std::function<bool()>& pred,
                    std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
  const auto end = TSteady::now() + limit;
  while (!pred()) {
    if (TSteady::now() > end) return false;
    SleepFor(std::chrono::milliseconds(1));
  }
  return true;
}

// Waits until the motor has stopped and stays stopped.
inline bool WaitStopped(const TSimFocuser& sim) {
  return WaitFor([&] { return !sim.Moving(); });
}

inline bool Send(TSerialPort& port, const std::string& text) {
  return port.Write(text.data(), text.size(), 1000) == TIoResult::Done;
}

inline std::vector<TTraceEntry> OfKind(const std::vector<TTraceEntry>& trace, TTraceKind kind) {
  std::vector<TTraceEntry> out;
  for (const auto& e : trace)
    if (e.Kind == kind) out.push_back(e);
  return out;
}

inline std::vector<TTraceEntry> EdgesOf(const std::vector<TTraceEntry>& trace, char line) {
  std::vector<TTraceEntry> out;
  for (const auto& e : trace)
    if (e.Kind == TTraceKind::Edge && e.Line == line) out.push_back(e);
  return out;
}

inline int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(TSteady::now().time_since_epoch())
      .count();
}

// Counts CTS events as the controller's counting thread does: wait, re-arm the mask, read
// the status, rising CTS counts by DSR. workUs of busy work per event models a slow reader.
class TCountingReader {
 public:
  explicit TCountingReader(TSerialPort& port, int workUs = 0) : FPort(port), FWorkUs(workUs) {
    FPort.SetCommMask(EV_CTS);
    FThread = std::thread([this] { Run(); });
  }
  ~TCountingReader() { Stop(); }

  void Stop() {
    if (!FThread.joinable()) return;
    FStop = true;
    FPort.SetCommMask(0);
    FThread.join();
  }

  int Count() const { return FCount; }
  int Wakes() const { return FWakes; }
  int Failures() const { return FFailures; }
  // Events whose status did not show the edge they reported (a change of CTS must show the
  // level opposite to the one before).
  int Inconsistent() const { return FInconsistent; }

 private:
  void Run() {
    bool lastCts = false;
    while (!FStop) {
      uint32_t events = 0;
      if (!FPort.WaitCommEvent(events)) {
        ++FFailures;
        if (FStop) break;
        SleepFor(std::chrono::milliseconds(1));
        continue;
      }
      if (events != EV_CTS) continue;
      FPort.SetCommMask(EV_CTS);
      uint32_t status = 0;
      FPort.GetCommModemStatus(status);
      const bool cts = status & MS_CTS_ON;
      const bool dsr = status & MS_DSR_ON;
      if (cts == lastCts) ++FInconsistent;
      lastCts = cts;
      if (!dsr) FCount += cts ? 1 : -1;
      ++FWakes;
      if (FWorkUs > 0) {
        const auto until = TSteady::now() + std::chrono::microseconds(FWorkUs);
        while (TSteady::now() < until) {
        }
      }
    }
  }

  TSerialPort& FPort;
  const int FWorkUs;
  std::atomic<bool> FStop{false};
  std::atomic<int> FCount{0}, FWakes{0}, FFailures{0}, FInconsistent{0};
  std::thread FThread;
};

}  // namespace morvane::sim::test
