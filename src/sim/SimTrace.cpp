#include "sim/SimTrace.h"

#include <algorithm>
#include <utility>

namespace morvane::sim {

namespace {
// Room for a few seconds of edges at full speed before the vector has to grow.
constexpr size_t ReservedEntries = 1 << 16;
}  // namespace

TSimTrace::TSimTrace(size_t limit) : FLimit(std::max<size_t>(limit, 2)) {
  FEntries.reserve(std::min(FLimit, ReservedEntries));
}

void TSimTrace::Add(TTraceEntry entry) {
  std::lock_guard lock(FLock);
  if (FEntries.size() >= FLimit)
    FEntries.erase(FEntries.begin(), FEntries.begin() + static_cast<long>(FEntries.size() / 2));
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
