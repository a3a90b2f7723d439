#include "platform/ProductTimings.h"

#include <atomic>

namespace morvane {

namespace {
const TProductTimings Defaults;
std::atomic<const TProductTimings*> InForce{&Defaults};
}  // namespace

const TProductTimings& ProductTimings() {
  return *InForce.load(std::memory_order_acquire);
}

void SetProductTimings(const TProductTimings* timings) {
  InForce.store(timings ? timings : &Defaults, std::memory_order_release);
}

}  // namespace morvane
