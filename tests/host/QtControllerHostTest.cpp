#include "host/QtControllerHost.h"

#include <gtest/gtest.h>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "host/ExceptionBoundary.h"
#include "support/MessageBoxCloser.h"
#include "support/WaitFor.h"

namespace morvane {
namespace {

using namespace std::chrono_literals;
using test::TMessageBoxCloser;

bool OnGuiThread() {
  return QThread::currentThread() == qApp->thread();
}

// Runs the GUI thread until a witness timer of the host, started now with the given interval,
// has ticked that many times: a timer of that interval had as many chances to tick.
bool RunTimerPeriods(TQtControllerHost& host, int intervalMs, int periods = 3) {
  int ticks = 0;
  const int witness = host.StartTimer(intervalMs, [&] { ++ticks; });
  const bool ran = QTest::qWaitFor([&] { return ticks >= periods; }, 5000);
  host.StopTimer(witness);
  return ran;
}

TEST(QtControllerHost, PostsFromSeveralThreadsRunOnTheGuiThreadInTheirOrder) {
  TQtControllerHost host;
  constexpr int Threads = 4, PerThread = 2000;
  std::vector<std::vector<int>> seen(Threads);
  std::atomic<int> offGui{0};
  std::vector<std::thread> posters;
  for (int t = 0; t < Threads; ++t)
    posters.emplace_back([&, t] {
      for (int i = 0; i < PerThread; ++i)
        host.Post([&, t, i] {
          if (!OnGuiThread()) ++offGui;
          seen[t].push_back(i);
        });
    });
  for (auto& p : posters) p.join();
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        for (auto& s : seen)
          if (s.size() < PerThread) return false;
        return true;
      },
      10000));
  EXPECT_EQ(offGui.load(), 0);
  for (int t = 0; t < Threads; ++t) {
    std::vector<int> expected(PerThread);
    for (int i = 0; i < PerThread; ++i) expected[i] = i;
    EXPECT_EQ(seen[t], expected) << "thread " << t;
  }
}

TEST(QtControllerHost, PostReturnsWhileTheGuiThreadIsBusy) {
  TQtControllerHost host;
  std::atomic<bool> posted{false};
  int ran = 0;
  std::thread poster([&] {
    for (int i = 0; i < 10000; ++i) host.Post([&] { ++ran; });
    posted = true;
  });
  // The GUI thread is busy in a handler and takes no events until the poster is done.
  poster.join();
  EXPECT_TRUE(posted.load());
  EXPECT_EQ(ran, 0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return ran == 10000; }, 10000));
}

TEST(QtControllerHost, TimersTickOnTheGuiThreadUntilStopped) {
  TQtControllerHost host;
  int ticks = 0;
  std::atomic<int> offGui{0};
  const int id = host.StartTimer(20, [&] {
    if (!OnGuiThread()) ++offGui;
    ++ticks;
  });
  EXPECT_TRUE(QTest::qWaitFor([&] { return ticks >= 3; }, 5000));
  host.StopTimer(id);
  const int atStop = ticks;
  ASSERT_TRUE(RunTimerPeriods(host, 20));
  EXPECT_EQ(ticks, atStop);
  EXPECT_EQ(offGui.load(), 0);

  // A tick that stops its own timer.
  int selfTicks = 0;
  int self = 0;
  self = host.StartTimer(10, [&] {
    ++selfTicks;
    host.StopTimer(self);
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return selfTicks > 0; }, 5000));
  ASSERT_TRUE(RunTimerPeriods(host, 10));
  EXPECT_EQ(selfTicks, 1);
}

TEST(QtControllerHost, StopFromAnotherThreadWaitsOutTheRunningTick) {
  TQtControllerHost host;
  std::atomic<bool> tickStarted{false}, tickEnded{false}, stopReturned{false};
  std::atomic<bool> endedWhenStopReturned{false};
  std::atomic<int> ticks{0};
  const int id = host.StartTimer(10, [&] {
    ++ticks;
    tickStarted = true;
    // A tick long enough for the stop to come in the middle of it.
    constexpr auto LongTick = 150ms;
    std::this_thread::sleep_for(LongTick);
    tickEnded = true;
  });
  std::thread stopper([&] {
    if (!test::WaitFor([&] { return tickStarted.load(); })) ADD_FAILURE() << "no tick";
    host.StopTimer(id);
    endedWhenStopReturned = tickEnded.load();
    stopReturned = true;
  });
  EXPECT_TRUE(QTest::qWaitFor([&] { return stopReturned.load(); }, 5000));
  stopper.join();
  EXPECT_TRUE(endedWhenStopReturned.load());
  ASSERT_TRUE(RunTimerPeriods(host, 10));
  EXPECT_EQ(ticks.load(), 1);
}

TEST(QtControllerHost, TimerStartedAndStoppedOffTheGuiThread) {
  TQtControllerHost host;
  std::atomic<int> ticks{0};
  int id = 0;
  std::thread([&] { id = host.StartTimer(10, [&] { ++ticks; }); }).join();
  EXPECT_TRUE(QTest::qWaitFor([&] { return ticks >= 2; }, 5000));
  std::thread([&] { host.StopTimer(id); }).join();
  ASSERT_TRUE(RunTimerPeriods(host, 10));  // a tick already on its way lands
  const int atStop = ticks;
  ASSERT_TRUE(RunTimerPeriods(host, 10));
  EXPECT_EQ(ticks.load(), atStop);
}

TEST(QtControllerHost, MessageIsAModalBoxCaptionedMorvaneWithOneButtonAndNoIcon) {
  TQtControllerHost host;
  TMessageBoxCloser user;
  host.ShowMessage("Could not open COM 7");
  ASSERT_EQ(user.Seen.size(), 1u);
  EXPECT_EQ(user.Seen[0].Title, "Morvane");
  EXPECT_EQ(user.Seen[0].Text, "Could not open COM 7");
  EXPECT_EQ(user.Seen[0].Icon, QMessageBox::NoIcon);
  EXPECT_EQ(user.Seen[0].Buttons, 1);

  // From a worker thread the box still comes up on the GUI thread.
  std::thread([&] { host.ShowMessage("Illegal FocusCommand"); }).join();
  EXPECT_TRUE(QTest::qWaitFor([&] { return user.Seen.size() == 2; }, 5000));
  EXPECT_EQ(user.Seen.back().Text, "Illegal FocusCommand");
}

TEST(ExceptionBoundary, AnErrorInAHandlerIsShownAndTheProgramRunsOn) {
  TQtControllerHost host;
  TMessageBoxCloser user;
  bool after = false;
  host.Post([] { throw std::runtime_error("Unable to write to /home/u/Morvane.ini"); });
  host.Post([] { throw std::runtime_error("Set Cal value failed!"); });
  host.Post([&] { after = true; });
  EXPECT_TRUE(QTest::qWaitFor([&] { return after; }, 5000));
  // The second call runs while the first box is up, as queued calls do under a modal box.
  ASSERT_EQ(user.Seen.size(), 2u);
  std::sort(user.Seen.begin(), user.Seen.end(), [](auto& a, auto& b) { return a.Text < b.Text; });
  EXPECT_EQ(user.Seen[1].Title, "Morvane");
  EXPECT_EQ(user.Seen[1].Text, "Unable to write to /home/u/Morvane.ini.");
  EXPECT_EQ(user.Seen[1].Icon, QMessageBox::Critical);
  EXPECT_EQ(user.Seen[0].Text, "Set Cal value failed!");

  // An event handler of a widget, behind no boundary of its own, meets the application's.
  struct TThrowing : QObject {
    bool event(QEvent* e) override {
      if (e->type() == QEvent::User) throw std::runtime_error("Error converting value");
      return QObject::event(e);
    }
  } throwing;
  QCoreApplication::postEvent(&throwing, new QEvent(QEvent::User));
  EXPECT_TRUE(QTest::qWaitFor([&] { return user.Seen.size() == 3; }, 5000));
  EXPECT_EQ(user.Seen.back().Text, "Error converting value.");
}

}  // namespace
}  // namespace morvane
