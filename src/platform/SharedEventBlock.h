#pragma once
// The shared-memory object behind a named event: where it lives and how it is laid out. Only
// Event.cpp and the tests that play a process dying with the lock held use it.

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace morvane {

inline constexpr uint32_t SharedEventMagic = 0x4D4F5631;  // "MOV1"

struct TSharedEventBlock {
  uint32_t Magic;                  // written last by the process that initialises the block
  uint32_t ManualReset;            // fixed by the creator
  pthread_mutex_t Lock;            // process-shared and robust: a holder's death is reported
  uint32_t Signaled;               // under Lock
  std::atomic<uint32_t> Sequence;  // futex word; bumped under Lock by every set
};

// The POSIX shared-memory name of a named event for the calling user: "/morvane-<uid>-" and
// the name, with bytes other than letters, digits, '-', '_' and '.' written as %XX so that
// names stay apart exactly as given.
std::string SharedEventObjectName(const std::string& name);

}  // namespace morvane
