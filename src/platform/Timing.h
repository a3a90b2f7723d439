#pragma once
// Millisecond sleeps, the seconds-to-milliseconds rule of the motion code, and thread
// priorities.

#include <cstdint>

namespace morvane {

// Suspends the calling thread for ms milliseconds; 0 gives up the rest of the time slice.
void Sleep(uint32_t ms);

// Seconds (a double) to whole milliseconds: x * 1000 rounded to the nearest, halves to even.
// Callers form a product of several settings in full precision and pass it in once.
uint32_t SecondsToMs(double seconds);

enum class TThreadPriority {
  tpIdle,
  tpLowest,
  tpLower,
  tpNormal,
  tpHigher,
  tpHighest,
  tpTimeCritical
};

// Gives the calling thread the priority, as far as the system allows; a refusal (raising
// priority usually needs a privilege) leaves it at normal and is not reported.
void SetCurrentThreadPriority(TThreadPriority priority);

// Monotonic clock in microseconds, for traces and measurements.
int64_t MonotonicMicros();

}  // namespace morvane
