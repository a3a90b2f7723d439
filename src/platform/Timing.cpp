#include "platform/Timing.h"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <ctime>
#include <limits>

namespace morvane {

namespace {

timespec MonotonicNow() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now;
}

// Nice values: the Windows levels spread over the Linux range, normal staying 0.
int NiceOf(TThreadPriority priority) {
  switch (priority) {
    case TThreadPriority::tpIdle:
      return 19;
    case TThreadPriority::tpLowest:
      return 10;
    case TThreadPriority::tpLower:
      return 5;
    case TThreadPriority::tpNormal:
      return 0;
    case TThreadPriority::tpHigher:
      return -5;
    case TThreadPriority::tpHighest:
      return -10;
    case TThreadPriority::tpTimeCritical:
      return -20;
  }
  return 0;
}

}  // namespace

void Sleep(uint32_t ms) {
  if (ms == 0) {
    sched_yield();
    return;
  }
  // An absolute deadline, so that a signal landing on this thread does not lengthen the sleep.
  timespec until = MonotonicNow();
  until.tv_sec += static_cast<time_t>(ms / 1000);
  until.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
  if (until.tv_nsec >= 1000000000L) {
    until.tv_sec += 1;
    until.tv_nsec -= 1000000000L;
  }
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}

uint32_t SecondsToMs(double seconds) {
  const double ms = seconds * 1000.0;
  if (!(ms > 0.0)) return 0;  // negative and NaN
  if (ms >= static_cast<double>(std::numeric_limits<uint32_t>::max())) {
    return std::numeric_limits<uint32_t>::max();
  }
  // Halves to even, whatever rounding mode the floating-point unit is in.
  const double whole = std::floor(ms);
  const double rest = ms - whole;
  double rounded = whole;
  if (rest > 0.5 || (rest == 0.5 && std::fmod(whole, 2.0) != 0.0)) rounded = whole + 1.0;
  return static_cast<uint32_t>(rounded);
}

void SetCurrentThreadPriority(TThreadPriority priority) {
  // Linux keeps a nice value per thread; raising priority needs CAP_SYS_NICE or RLIMIT_NICE,
  // and a refusal leaves the thread as it was.
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), NiceOf(priority));
}

int64_t MonotonicMicros() {
  const timespec now = MonotonicNow();
  return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

}  // namespace morvane
