#include "platform/Timing.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <limits>
#include <thread>

namespace morvane {
namespace {

TEST(SecondsToMs, MotionDurationsBecomeWholeMilliseconds) {
  EXPECT_EQ(SecondsToMs(0.015), 15u);
  EXPECT_EQ(SecondsToMs(0.01), 10u);
  EXPECT_EQ(SecondsToMs(0.08), 80u);
  EXPECT_EQ(SecondsToMs(0.225), 225u);
  // The close pause is a product of three settings, rounded once at the end.
  EXPECT_EQ(SecondsToMs(0.08 * (0.015 / 0.01)), 120u);
  EXPECT_EQ(SecondsToMs(0.08 * 0.015 / 0.01), 120u);
}

TEST(SecondsToMs, RoundsToNearestWithHalvesToEven) {
  EXPECT_EQ(SecondsToMs(0.0005), 0u);  // 0.5
  EXPECT_EQ(SecondsToMs(0.0015), 2u);  // 1.5
  EXPECT_EQ(SecondsToMs(0.0025), 2u);  // 2.5
  EXPECT_EQ(SecondsToMs(0.0035), 4u);  // 3.5
  EXPECT_EQ(SecondsToMs(0.0124), 12u);
  EXPECT_EQ(SecondsToMs(0.0126), 13u);
}

TEST(SecondsToMs, OutOfRangeValuesAreClamped) {
  EXPECT_EQ(SecondsToMs(0.0), 0u);
  EXPECT_EQ(SecondsToMs(-0.5), 0u);
  EXPECT_EQ(SecondsToMs(std::nan("")), 0u);
  EXPECT_EQ(SecondsToMs(1e12), std::numeric_limits<uint32_t>::max());
  EXPECT_EQ(SecondsToMs(4294967.0), 4294967000u);
}

TEST(Sleep, LastsAtLeastItsTimeAndAdvancesTheClock) {
  const int64_t before = MonotonicMicros();
  Sleep(30);
  const int64_t after = MonotonicMicros();
  EXPECT_GE(after - before, 30000);
  EXPECT_LT(after - before, 2000000);
}

TEST(Sleep, ZeroOnlyYields) {
  const int64_t before = MonotonicMicros();
  for (int i = 0; i < 100; ++i) Sleep(0);
  EXPECT_LT(MonotonicMicros() - before, 500000);
}

TEST(MonotonicMicros, NeverGoesBack) {
  int64_t last = MonotonicMicros();
  for (int i = 0; i < 1000; ++i) {
    const int64_t now = MonotonicMicros();
    ASSERT_GE(now, last);
    last = now;
  }
}

int NiceOfThisThread() {
  return getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
}

// Each case runs on a thread of its own: the nice value belongs to the thread, and lowering
// it again needs a privilege the test may not have.
TEST(SetCurrentThreadPriority, LowerPrioritiesSetTheThreadsNiceValue) {
  int lower = 0;
  int idle = 0;
  int lowest = 0;
  int mainNice = NiceOfThisThread();
  std::thread([&] {
    SetCurrentThreadPriority(TThreadPriority::tpLower);
    lower = NiceOfThisThread();
    SetCurrentThreadPriority(TThreadPriority::tpIdle);
    idle = NiceOfThisThread();
  }).join();
  std::thread([&] {
    SetCurrentThreadPriority(TThreadPriority::tpLowest);
    lowest = NiceOfThisThread();
  }).join();
  if (mainNice <= 5) {
    EXPECT_EQ(lower, 5);
  }
  EXPECT_EQ(idle, 19);
  if (mainNice <= 10) {
    EXPECT_EQ(lowest, 10);
  }
  EXPECT_EQ(NiceOfThisThread(), mainNice);
}

TEST(SetCurrentThreadPriority, HigherPrioritiesAreGrantedOrQuietlyRefused) {
  const int start = NiceOfThisThread();
  int highest = 0;
  int critical = 0;
  std::thread([&] {
    SetCurrentThreadPriority(TThreadPriority::tpHighest);
    highest = NiceOfThisThread();
    SetCurrentThreadPriority(TThreadPriority::tpTimeCritical);
    critical = NiceOfThisThread();
  }).join();
  EXPECT_TRUE(highest == -10 || highest == start) << highest;
  EXPECT_TRUE(critical == -20 || critical == highest) << critical;
}

}  // namespace
}  // namespace morvane
