#include "sim/SimTrace.h"

#include <utility>

namespace morvane::sim {

namespace {
// Room for a few seconds of edges at full speed before the vector has to grow.
constexpr size_t ReservedEntries = 1 << 16;
}  // namespace

TSimTrace::TSimTrace() {
  FEntries.reserve(ReservedEntries);
}

void TSimTrace::Add(TTraceEntry entry) {
  std::lock_guard lock(FLock);
  FEntries.push_back(std::move(entry));
}

std::vector<TTraceEntry> TSimTrace::Copy() const {
  std::lock_guard lock(FLock);
  return FEntries;
}

void TSimTrace::Clear() {
  std::lock_guard lock(FLock);
  FEntries.clear();
}

}  // namespace morvane::sim
