#include "ui/CountHandOver.h"

#include <QSocketNotifier>
#include <QThread>

#include <sys/eventfd.h>
#include <unistd.h>

#include <stdexcept>

namespace morvane {

namespace {

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
  FShow(static_cast<int32_t>(static_cast<uint32_t>(latest)), (latest >> 32) != 0);
}

void TCountHandOver::Woken() {
  uint64_t value = 0;
  [[maybe_unused]] const ssize_t n = read(FWakeFd, &value, sizeof value);
  Flush();
}

}  // namespace morvane
