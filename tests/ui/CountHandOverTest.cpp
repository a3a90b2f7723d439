// The readout's hand-over: a flood of counts from another thread is shown at most once per
// pacing interval, the last count always, and a flush by a later event's handler shows at once.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "console/CountHandOver.h"

namespace morvane::test {
namespace {

TEST(CountHandOver, AFloodIsShownAtMostOnceAFrameEndingOnTheLastCount) {
  std::vector<int32_t> shown;
  TCountHandOver handOver([&](int32_t count, bool) { shown.push_back(count); });
  QElapsedTimer clock;
  clock.start();
  std::atomic<bool> done{false};
  std::thread counter([&] {
    constexpr auto BetweenEdges = std::chrono::microseconds(100);  // a fast motor's edges
    for (int32_t i = 1; i <= 3000; ++i) {
      handOver.Raise(i, false);
      std::this_thread::sleep_for(BetweenEdges);
    }
    done.store(true);
  });
  EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 20000));
  counter.join();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !shown.empty() && shown.back() == 3000; }, 1000));
  // A loaded machine shows fewer, never more: one show at once, then one per 15 ms at most.
  EXPECT_LE(static_cast<int64_t>(shown.size()), clock.elapsed() / 15 + 2) << shown.size();
  EXPECT_GT(shown.size(), 2u);
  EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end()));

  // A change raised elsewhere within the frame is shown at once by a flush.
  std::thread([&] { handOver.Raise(4000, true); }).join();
  handOver.Flush();
  EXPECT_EQ(shown.back(), 4000);
}

}  // namespace
}  // namespace morvane::test
