#pragma once
// Waits for a condition with a deadline, for tests without an event loop (those with one use
// QTest::qWaitFor). The deadline only bounds a failure: a condition that holds early ends the
// wait at once, so a generous one costs a passing test nothing on a quiet machine.

#include <chrono>
#include <thread>

namespace morvane::test {

// Long enough for a real-time move on two cores shared with other builds and a sanitizer.
inline constexpr std::chrono::milliseconds DefaultDeadline{10000};
// Between checks: short against the tests' own timing, long enough not to spin a core.
inline constexpr std::chrono::milliseconds PollInterval{2};

// Checks pred until it holds or deadline passes; returns its last value.
template <typename P>
bool WaitFor(P&& pred, std::chrono::milliseconds deadline = DefaultDeadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return pred();
    std::this_thread::sleep_for(PollInterval);
  }
  return true;
}

}  // namespace morvane::test
