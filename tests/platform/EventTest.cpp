#include "platform/Event.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/HelperProcess.h"
#include "platform/SharedEventBlock.h"
#include "platform/Timing.h"

namespace morvane {
namespace {

using test::FinishHelper;
using test::RunHelper;
using test::StartHelper;

std::string UniqueName(const std::string& what) {
  static std::atomic<int> counter{0};
  return "MORVANE_TEST_" + what + "_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
}

bool SharedObjectExists(const std::string& name) {
  struct stat st {};
  return stat(("/dev/shm" + SharedEventObjectName(name)).c_str(), &st) == 0;
}

int64_t ElapsedMs(int64_t sinceMicros) {
  return (MonotonicMicros() - sinceMicros) / 1000;
}

// For a waiter on another thread or process to be blocked in its wait, which nothing shows
// from outside. A waiter still on its way only makes a case weaker, never fail.
constexpr auto IntoTheWait = std::chrono::milliseconds(50);
// For a wake that must not come: after the one that did, a second would follow at once.
constexpr auto NoSecondWake = std::chrono::milliseconds(100);

// The same behaviour, private (false) and named (true).
class EventTest : public ::testing::TestWithParam<bool> {
 protected:
  std::unique_ptr<TEvent> Make(bool manualReset, bool initialState) {
    return std::make_unique<TEvent>(manualReset, initialState,
                                    GetParam() ? UniqueName("EVENT") : std::string());
  }
};

TEST_P(EventTest, AutoResetReleasesOneWaitPerSet) {
  auto event = Make(false, false);
  EXPECT_EQ(event->WaitFor(0), TWaitResult::wrTimeout);
  event->SetEvent();
  event->SetEvent();  // a second set before any wait adds nothing
  EXPECT_EQ(event->WaitFor(0), TWaitResult::wrSignaled);
  EXPECT_EQ(event->WaitFor(0), TWaitResult::wrTimeout);
}

TEST_P(EventTest, InitialStateIsHonoured) {
  auto signaled = Make(false, true);
  EXPECT_EQ(signaled->WaitFor(0), TWaitResult::wrSignaled);
  EXPECT_EQ(signaled->WaitFor(0), TWaitResult::wrTimeout);
  auto clear = Make(false, false);
  EXPECT_EQ(clear->WaitFor(0), TWaitResult::wrTimeout);
}

TEST_P(EventTest, ManualResetStaysSignaledUntilReset) {
  auto event = Make(true, false);
  event->SetEvent();
  EXPECT_EQ(event->WaitFor(0), TWaitResult::wrSignaled);
  EXPECT_EQ(event->WaitFor(10), TWaitResult::wrSignaled);
  event->ResetEvent();
  EXPECT_EQ(event->WaitFor(0), TWaitResult::wrTimeout);
}

TEST_P(EventTest, ResetTakesBackASetNobodyWaitedFor) {
  auto event = Make(false, false);
  event->SetEvent();
  event->ResetEvent();
  EXPECT_EQ(event->WaitFor(20), TWaitResult::wrTimeout);
}

TEST_P(EventTest, TimeoutLastsAtLeastItsTime) {
  auto event = Make(false, false);
  const int64_t start = MonotonicMicros();
  EXPECT_EQ(event->WaitFor(60), TWaitResult::wrTimeout);
  const int64_t elapsed = ElapsedMs(start);
  EXPECT_GE(elapsed, 59);
  EXPECT_LT(elapsed, 3000);
}

TEST_P(EventTest, SetFromAnotherThreadEndsAnEndlessWait) {
  auto event = Make(false, false);
  auto waiter = std::async(std::launch::async, [&] { return event->WaitFor(INFINITE); });
  EXPECT_EQ(waiter.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  event->SetEvent();
  ASSERT_EQ(waiter.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(waiter.get(), TWaitResult::wrSignaled);
  EXPECT_EQ(event->WaitFor(0), TWaitResult::wrTimeout);  // the waiter consumed it
}

TEST_P(EventTest, AutoResetWakesOnlyOneOfTwoWaiters) {
  auto event = Make(false, false);
  std::mutex lock;
  std::condition_variable woke;
  int done = 0;
  auto wait = [&] {
    const TWaitResult result = event->WaitFor(5000);
    const std::lock_guard<std::mutex> guard(lock);
    ++done;
    woke.notify_all();
    return result;
  };
  auto first = std::async(std::launch::async, wait);
  auto second = std::async(std::launch::async, wait);
  std::this_thread::sleep_for(IntoTheWait);
  event->SetEvent();
  {
    std::unique_lock<std::mutex> held(lock);
    ASSERT_TRUE(woke.wait_for(held, std::chrono::seconds(5), [&] { return done > 0; }));
    EXPECT_FALSE(woke.wait_for(held, NoSecondWake, [&] { return done > 1; }));
    EXPECT_EQ(done, 1);
  }
  event->SetEvent();
  EXPECT_EQ(first.get(), TWaitResult::wrSignaled);
  EXPECT_EQ(second.get(), TWaitResult::wrSignaled);
  EXPECT_EQ(event->WaitFor(0), TWaitResult::wrTimeout);
}

TEST_P(EventTest, ManualResetWakesEveryWaiter) {
  auto event = Make(true, false);
  std::vector<std::future<TWaitResult>> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.push_back(std::async(std::launch::async, [&] { return event->WaitFor(5000); }));
  }
  std::this_thread::sleep_for(IntoTheWait);
  event->SetEvent();
  for (auto& w : waiters) EXPECT_EQ(w.get(), TWaitResult::wrSignaled);
}

INSTANTIATE_TEST_SUITE_P(PrivateAndNamed, EventTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Named" : "Private"; });

TEST(NamedEvent, OneNameIsOneEvent) {
  const std::string name = UniqueName("SHARED");
  TEvent a(false, false, name);
  TEvent b(false, false, name);
  EXPECT_EQ(a.Name(), name);
  a.SetEvent();
  EXPECT_EQ(b.WaitFor(0), TWaitResult::wrSignaled);
  EXPECT_EQ(a.WaitFor(0), TWaitResult::wrTimeout);
}

TEST(NamedEvent, OpeningAnExistingEventKeepsItsKindAndState) {
  const std::string name = UniqueName("EXISTING");
  TEvent creator(false, false, name);
  TEvent opener(true, true, name);  // manual reset and signalled: both ignored
  EXPECT_EQ(opener.WaitFor(0), TWaitResult::wrTimeout);
  creator.SetEvent();
  EXPECT_EQ(opener.WaitFor(0), TWaitResult::wrSignaled);
  EXPECT_EQ(opener.WaitFor(0), TWaitResult::wrTimeout);
}

TEST(NamedEvent, NamesAreMatchedExactly) {
  const std::string name = UniqueName("CaSe");
  TEvent upper(false, false, name);
  TEvent lower(false, false, name + "x");
  std::string folded = name;
  for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  TEvent other(false, false, folded);
  TEvent slash(false, false, name + "/a");
  TEvent escaped(false, false, name + "%2Fa");
  upper.SetEvent();
  slash.SetEvent();
  EXPECT_EQ(lower.WaitFor(0), TWaitResult::wrTimeout);
  EXPECT_EQ(other.WaitFor(0), TWaitResult::wrTimeout);
  EXPECT_EQ(escaped.WaitFor(0), TWaitResult::wrTimeout);
  EXPECT_EQ(slash.WaitFor(0), TWaitResult::wrSignaled);
  EXPECT_EQ(upper.WaitFor(0), TWaitResult::wrSignaled);
}

TEST(NamedEvent, GoesAwayWithItsLastHandle) {
  const std::string name = UniqueName("LIFETIME");
  {
    TEvent first(false, true, name);
    { TEvent second(false, false, name); }
    EXPECT_TRUE(SharedObjectExists(name));  // still held by first
  }
  EXPECT_FALSE(SharedObjectExists(name));
  TEvent fresh(false, false, name);  // a new event, not the old signalled one
  EXPECT_EQ(fresh.WaitFor(0), TWaitResult::wrTimeout);
}

TEST(NamedEvent, AnUnusableNameFailsEveryWait) {
  const std::string name(400, 'N');
  TEvent event(false, false, name);
  event.SetEvent();
  event.ResetEvent();
  EXPECT_EQ(event.WaitFor(0), TWaitResult::wrError);
  EXPECT_EQ(event.LastError(), ENAMETOOLONG);
}

TEST(NamedEvent, ASetInAnotherProcessWakesAWaiterHere) {
  const std::string name = UniqueName("CROSS_SET");
  TEvent event(false, false, name);
  auto helper = StartHelper({"set-event", name, "100"});
  const int64_t start = MonotonicMicros();
  EXPECT_EQ(event.WaitFor(10000), TWaitResult::wrSignaled);
  EXPECT_GE(ElapsedMs(start), 90);  // it was blocked until the other process set it
  std::string output;
  const int status = FinishHelper(helper, &output);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
  EXPECT_EQ(event.WaitFor(0), TWaitResult::wrTimeout);
}

TEST(NamedEvent, AnotherProcessConsumesASetMadeHere) {
  const std::string name = UniqueName("CROSS_WAIT");
  TEvent event(false, false, name);
  auto helper = StartHelper({"wait-event", name, "10000"});
  event.SetEvent();
  std::string output;
  const int status = FinishHelper(helper, &output);
  ASSERT_TRUE(WIFEXITED(status)) << output;
  EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(TWaitResult::wrSignaled)) << output;
  EXPECT_EQ(event.WaitFor(0), TWaitResult::wrTimeout);
}

TEST(NamedEvent, AProcessDyingWithTheLockGivesAbandonedOnceThenWorks) {
  const std::string name = UniqueName("ABANDONED");
  TEvent event(false, false, name);
  std::string output;
  const int status = RunHelper({"die-holding-lock", name}, &output);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << output;
  EXPECT_EQ(event.WaitFor(50), TWaitResult::wrAbandoned);
  EXPECT_EQ(event.WaitFor(0), TWaitResult::wrTimeout);
  event.SetEvent();
  EXPECT_EQ(event.WaitFor(0), TWaitResult::wrSignaled);
  EXPECT_EQ(event.WaitFor(0), TWaitResult::wrTimeout);
}

TEST(NamedEvent, ASetLeftByADeadProcessDiesWithIt) {
  const std::string name = UniqueName("DEAD_SETTER");
  std::string output;
  int status = RunHelper({"set-event-and-die", name}, &output);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << output;
  // Its object outlived it, signalled; the next program must not find a permission there.
  ASSERT_TRUE(SharedObjectExists(name));
  TEvent event(false, false, name);
  EXPECT_EQ(event.WaitFor(0), TWaitResult::wrTimeout);

  // While a holder lives, its state is kept for the next one, as before.
  status = RunHelper({"set-event-and-die", name}, &output);
  ASSERT_TRUE(WIFSIGNALED(status)) << output;
  TEvent second(false, false, name);
  EXPECT_EQ(second.WaitFor(0), TWaitResult::wrSignaled);
}

TEST(NamedEvent, AWaiterKilledInItsWaitDoesNotSwallowTheNextSet) {
  const std::string name = UniqueName("KILLED_WAITER");
  TEvent event(false, false, name);
  auto helper = StartHelper({"wait-event", name, "10000"});
  char ready[8];
  ASSERT_GT(read(helper.OutputFd, ready, sizeof ready), 0);  // "waiting", just before it
  std::this_thread::sleep_for(IntoTheWait);
  kill(helper.Pid, SIGKILL);
  FinishHelper(helper);
  auto waiter = std::async(std::launch::async, [&] { return event.WaitFor(5000); });
  std::this_thread::sleep_for(IntoTheWait);
  event.SetEvent();
  EXPECT_EQ(waiter.get(), TWaitResult::wrSignaled);
}

}  // namespace
}  // namespace morvane
