#pragma once
// Runs a bus client's work on a thread of its own while the GUI thread serves the bus, as
// another program would call the window.

#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <functional>
#include <future>

namespace morvane::test {

// Runs the GUI thread's event loop until done() holds or ms have passed; false on time-out.
inline bool ServeUntil(const std::function<bool()>& done, int ms = 10000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  if (done()) return true;
  QEventLoop loop;
  QTimer poll;
  bool met = false;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    met = done();
    if (met || std::chrono::steady_clock::now() >= end) loop.quit();
  });
  poll.start(2);
  loop.exec();
  return met;
}

inline void Serve(int ms) {
  ServeUntil([] { return false; }, ms);
}

template <typename F>
auto FromOtherThread(F work) {
  auto done = std::async(std::launch::async, std::move(work));
  ServeUntil(
      [&] { return done.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready; },
      60000);
  return done.get();
}

}  // namespace morvane::test
