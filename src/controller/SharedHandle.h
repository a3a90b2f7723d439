#pragma once
// A shared_ptr that several threads load and store whole.
//
// std::atomic<std::shared_ptr> would do, but GCC 12's library releases its internal lock with a
// relaxed store after reading the pointer, so a store right after a load on another thread is,
// by the memory model, not ordered after that read (and ThreadSanitizer says so). A mutex held
// for the copy orders both; it is held only for a reference-count change, never for I/O.

#include <memory>
#include <mutex>
#include <utility>

namespace morvane {

template <typename T>
class TSharedHandle {
 public:
  std::shared_ptr<T> load() const {
    std::lock_guard lock(FLock);
    return FValue;
  }
  void store(std::shared_ptr<T> value) {
    std::shared_ptr<T> old;
    {
      std::lock_guard lock(FLock);
      old = std::exchange(FValue, std::move(value));
    }
    // The last reference may go here: freed outside the lock.
  }

 private:
  mutable std::mutex FLock;
  std::shared_ptr<T> FValue;
};

}  // namespace morvane
