#pragma once
// What happened on the simulated line, stamped in steady-clock microseconds, for tests and
// benchmarks to assert on. Appending is cheap (a reserved vector under a mutex) so that the
// encoder can record every edge at tens of kHz.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace morvane::sim {

enum class TTraceKind {
  Open,
  Close,
  Write,  // one per write: Bytes
  Line,   // RTS/DTR: Line 'R' or 'D', Level (every line function, and changes by the device)
  Edge,   // encoder: Line 'C' (CTS) or 'S' (DSR), Level, Position after it
  Purge,  // Value: the flags
  Mask,   // Value: the event mask
  Input,  // bytes that reached the input buffer (module replies, injected bytes): Bytes
  Unplug
};

struct TTraceEntry {
  int64_t Us = 0;  // steady-clock microseconds (same epoch as std::chrono::steady_clock)
  TTraceKind Kind = TTraceKind::Open;
  std::string Bytes;
  char Line = 0;
  bool Level = false;
  int32_t Position = 0;  // the encoder count after the event
  uint32_t Value = 0;
};

class TSimTrace {
 public:
  // Keeps at most limit entries; a full trace drops its older half.
  explicit TSimTrace(size_t limit = 1u << 20);
  void Add(TTraceEntry entry);
  std::vector<TTraceEntry> Copy() const;
  void Clear();

 private:
  const size_t FLimit;
  mutable std::mutex FLock;
  std::vector<TTraceEntry> FEntries;
};

}  // namespace morvane::sim
