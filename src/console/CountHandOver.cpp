#include "console/CountHandOver.h"

#include <QSocketNotifier>
#include <QThread>

#include <sys/eventfd.h>
#include <unistd.h>

#include <stdexcept>

namespace morvane {

namespace {

// A little under one frame of a 60 Hz screen (16.7 ms): a change that comes just after a show
// waits this long, and with the paint's own delay is still on the screen within the frame.
constexpr int64_t FrameNs = 15'000'000;

uint64_t Pack(int32_t count, bool dsr) {
  return static_cast<uint32_t>(count) | (uint64_t{dsr} << 32);
}

}  // namespace

TCountHandOver::TCountHandOver(std::function<void(int32_t, bool)> show, QObject* parent)
    : QObject(parent), FShow(std::move(show)) {
  FWakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (FWakeFd < 0) throw std::runtime_error("Cannot create the readout's wake-up event");
  FNotifier = std::make_unique<QSocketNotifier>(FWakeFd, QSocketNotifier::Read);
  connect(FNotifier.get(), &QSocketNotifier::activated, this, &TCountHandOver::Woken);
  FPaceTimer.setSingleShot(true);
  FPaceTimer.setTimerType(Qt::PreciseTimer);
  connect(&FPaceTimer, &QTimer::timeout, this, &TCountHandOver::ShowPaced);
}

TCountHandOver::~TCountHandOver() {
  FNotifier.reset();
  if (FWakeFd >= 0) close(FWakeFd);
}

void TCountHandOver::Raise(int32_t count, bool dsr) {
  FLatest.store(Pack(count, dsr), std::memory_order_release);
  if (QThread::currentThread() == thread()) {
    FPending.store(true, std::memory_order_release);
    Flush();
    return;
  }
  if (!FPending.exchange(true, std::memory_order_acq_rel)) {
    const uint64_t one = 1;
    // Cannot block (non-blocking) and cannot fail short of a counter overflow.
    [[maybe_unused]] const ssize_t n = write(FWakeFd, &one, sizeof one);
  }
}

void TCountHandOver::Flush() {
  // Clearing the flag before reading the value: an edge stored after this read posts again.
  if (!FPending.exchange(false, std::memory_order_acq_rel)) return;
  const uint64_t latest = FLatest.load(std::memory_order_acquire);
  FShown.fetch_add(1, std::memory_order_relaxed);
  FSinceShow.start();
  FShow(static_cast<int32_t>(static_cast<uint32_t>(latest)), (latest >> 32) != 0);
}

void TCountHandOver::Woken() {
  uint64_t value = 0;
  [[maybe_unused]] const ssize_t n = read(FWakeFd, &value, sizeof value);
  ShowPaced();
}

void TCountHandOver::ShowPaced() {
  // While a change waits here the flag stays set, and the counting thread posts no more wakes.
  if (!FPending.load(std::memory_order_acquire)) return;
  const int64_t since = FSinceShow.isValid() ? FSinceShow.nsecsElapsed() : FrameNs;
  if (since >= FrameNs) {
    Flush();
  } else if (!FPaceTimer.isActive()) {
    FPaceTimer.start(static_cast<int>((FrameNs - since + 999'999) / 1'000'000));
  }
}

}  // namespace morvane
