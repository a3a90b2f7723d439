#include "platform/Event.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <new>

#include "platform/SharedEventBlock.h"

namespace morvane {

namespace {

// Byte ranges of the shared object used as open-file-description locks: the guard serialises
// creation, initialisation and removal; every process that has the event open holds a read
// lock on the holder byte, so that the last one out can tell and remove the object.
constexpr off_t GuardByte = 0;
constexpr off_t HolderByte = 1;

int OfdLock(int fd, short type, off_t start, bool wait) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = start;
  lock.l_len = 1;
  for (;;) {
    if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0) return 0;
    if (errno != EINTR) return errno;
  }
}

timespec DeadlineAfter(unsigned ms) {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  t.tv_sec += static_cast<time_t>(ms / 1000);
  t.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
  if (t.tv_nsec >= 1000000000L) {
    t.tv_sec += 1;
    t.tv_nsec -= 1000000000L;
  }
  return t;
}

bool Passed(const timespec& deadline) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec > deadline.tv_sec ||
         (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec);
}

}  // namespace

namespace {
std::string& NamedEventScope() {
  static std::string scope;
  return scope;
}
}  // namespace

void SetNamedEventScope(const std::string& scope) {
  NamedEventScope() = scope;
}

std::string InstanceEventName(const std::string& name) {
  static std::atomic<unsigned> instances{0};
  return name + "." + std::to_string(getpid()) + "." + std::to_string(++instances);
}

std::string SharedEventObjectName(const std::string& name) {
  std::string object = "/morvane-" + std::to_string(getuid()) + "-";
  const std::string& scope = NamedEventScope();
  const std::string scoped = scope.empty() ? name : scope + "-" + name;
  for (const char c : scoped) {
    const auto u = static_cast<unsigned char>(c);
    const bool plain = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') ||
                       u == '-' || u == '_' || u == '.';
    if (plain) {
      object.push_back(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", u);
      object += hex;
    }
  }
  return object;
}

namespace {

class TEventCore {
 public:
  virtual ~TEventCore() = default;
  virtual void Set() = 0;
  virtual void Reset() = 0;
  virtual TWaitResult Wait(unsigned timeoutMs) = 0;

  std::atomic<int> LastError{0};  // waits may run on several threads at once
};

// A private event: a flag under a mutex.
class TLocalEvent final : public TEventCore {
 public:
  TLocalEvent(bool manualReset, bool initialState)
      : FManualReset(manualReset), FSignaled(initialState) {}

  void Set() override {
    {
      const std::lock_guard<std::mutex> guard(FLock);
      FSignaled = true;
    }
    // All waiters re-check: with auto-reset the first to take the lock consumes the signal.
    FChanged.notify_all();
  }

  void Reset() override {
    const std::lock_guard<std::mutex> guard(FLock);
    FSignaled = false;
  }

  TWaitResult Wait(unsigned timeoutMs) override {
    std::unique_lock<std::mutex> lock(FLock);
    const auto signaled = [this] { return FSignaled; };
    if (timeoutMs == INFINITE) {
      FChanged.wait(lock, signaled);
    } else if (!FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), signaled)) {
      return TWaitResult::wrTimeout;
    }
    if (!FManualReset) FSignaled = false;
    return TWaitResult::wrSignaled;
  }

 private:
  const bool FManualReset;
  std::mutex FLock;
  std::condition_variable FChanged;
  bool FSignaled;
};

// An event whose creation failed: every wait fails with the reason.
class TFailedEvent final : public TEventCore {
 public:
  explicit TFailedEvent(int error) { LastError = error; }
  void Set() override {}
  void Reset() override {}
  TWaitResult Wait(unsigned) override { return TWaitResult::wrError; }
};

// A named event: a flag and a futex word in POSIX shared memory, the flag guarded by a robust
// process-shared mutex. The futex is woken on every set and carries no per-waiter state, so
// a waiter killed in its wait leaves nothing behind that could swallow a later set.
class TSharedEvent final : public TEventCore {
 public:
  // Returns 0 or the errno of the failed step.
  int Open(const std::string& name, bool manualReset, bool initialState) {
    FObjectName = SharedEventObjectName(name);
    if (FObjectName.size() > NAME_MAX) return ENAMETOOLONG;
    for (int attempt = 0; attempt < 100; ++attempt) {
      const int fd = shm_open(FObjectName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
      if (fd < 0) return errno;
      if (const int error = OfdLock(fd, F_WRLCK, GuardByte, true); error != 0) {
        close(fd);
        return error;
      }
      struct stat st {};
      if (fstat(fd, &st) != 0) {
        const int error = errno;
        close(fd);
        return error;
      }
      if (st.st_nlink == 0) {  // removed by its last holder between our open and our lock
        close(fd);
        continue;
      }
      // Nobody else holds it: whatever the block says was left by a process that died with
      // the event open (a set nobody consumed, a permission nobody granted). An event dies
      // with its last handle, so this open makes it afresh.
      const bool orphaned = OfdLock(fd, F_WRLCK, HolderByte, false) == 0;
      const int error = Attach(fd, st, orphaned, manualReset, initialState);
      OfdLock(fd, F_UNLCK, GuardByte, false);
      if (error != 0) {
        Detach();
        close(fd);
        return error;
      }
      FFd = fd;
      return 0;
    }
    return EAGAIN;
  }

  ~TSharedEvent() override {
    if (FFd < 0) return;
    OfdLock(FFd, F_WRLCK, GuardByte, true);
    OfdLock(FFd, F_UNLCK, HolderByte, false);
    // No other holder: the event goes away with its last handle, as a system event does.
    if (OfdLock(FFd, F_WRLCK, HolderByte, false) == 0) shm_unlink(FObjectName.c_str());
    Detach();
    close(FFd);  // drops the locks
  }

  void Set() override {
    bool abandoned = false;
    if (Lock(abandoned) != 0) return;
    FBlock->Signaled = 1;
    FBlock->Sequence.fetch_add(1, std::memory_order_release);
    pthread_mutex_unlock(&FBlock->Lock);
    syscall(SYS_futex, &FBlock->Sequence, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
  }

  void Reset() override {
    bool abandoned = false;
    if (Lock(abandoned) != 0) return;
    FBlock->Signaled = 0;
    pthread_mutex_unlock(&FBlock->Lock);
  }

  TWaitResult Wait(unsigned timeoutMs) override {
    const bool forever = timeoutMs == INFINITE;
    const timespec deadline = forever ? timespec{} : DeadlineAfter(timeoutMs);
    bool abandoned = false;
    for (;;) {
      if (const int error = Lock(abandoned); error != 0) {
        LastError = error;
        return TWaitResult::wrError;
      }
      if (FBlock->Signaled != 0) {
        if (FBlock->ManualReset == 0) FBlock->Signaled = 0;
        pthread_mutex_unlock(&FBlock->Lock);
        return abandoned ? TWaitResult::wrAbandoned : TWaitResult::wrSignaled;
      }
      const uint32_t seen = FBlock->Sequence.load(std::memory_order_relaxed);
      pthread_mutex_unlock(&FBlock->Lock);
      if (!forever && Passed(deadline)) {
        return abandoned ? TWaitResult::wrAbandoned : TWaitResult::wrTimeout;
      }
      // Returns at once if a set came in since the look above; otherwise sleeps until the
      // next set or the deadline (absolute, on the monotonic clock).
      const long rc = syscall(SYS_futex, &FBlock->Sequence, FUTEX_WAIT_BITSET, seen,
                              forever ? nullptr : &deadline, nullptr, FUTEX_BITSET_MATCH_ANY);
      if (rc != 0 && errno != EAGAIN && errno != EINTR && errno != ETIMEDOUT) {
        LastError = errno;
        return TWaitResult::wrError;
      }
    }
  }

 private:
  int Attach(int fd, const struct stat& st, bool fresh, bool manualReset, bool initialState) {
    if (st.st_size < static_cast<off_t>(sizeof(TSharedEventBlock)) &&
        ftruncate(fd, sizeof(TSharedEventBlock)) != 0) {
      return errno;
    }
    void* map = mmap(nullptr, sizeof(TSharedEventBlock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) return errno;
    FBlock = static_cast<TSharedEventBlock*>(map);
    if (fresh || FBlock->Magic != SharedEventMagic) {
      // First holder (or a creator that died half-way): lay the block out afresh.
      FBlock = new (map) TSharedEventBlock{};
      pthread_mutexattr_t attr;
      pthread_mutexattr_init(&attr);
      pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
      pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
      const int error = pthread_mutex_init(&FBlock->Lock, &attr);
      pthread_mutexattr_destroy(&attr);
      if (error != 0) return error;
      FBlock->ManualReset = manualReset ? 1 : 0;
      FBlock->Signaled = initialState ? 1 : 0;
      FBlock->Magic = SharedEventMagic;
    }
    // Turns the write lock of a fresh open into a read lock, so that later openers see us.
    return OfdLock(fd, F_RDLCK, HolderByte, false);
  }

  void Detach() {
    if (FBlock) munmap(FBlock, sizeof(TSharedEventBlock));
    FBlock = nullptr;
  }

  // 0, or the errno of a lock that cannot be had. A holder that died with the lock held makes
  // abandoned true; the block's state is whole words, so it is marked consistent and used on.
  int Lock(bool& abandoned) {
    const int rc = pthread_mutex_lock(&FBlock->Lock);
    if (rc == EOWNERDEAD) {
      abandoned = true;
      pthread_mutex_consistent(&FBlock->Lock);
      return 0;
    }
    return rc;
  }

  std::string FObjectName;
  int FFd = -1;
  TSharedEventBlock* FBlock = nullptr;
};

}  // namespace

struct TEvent::TImpl {
  std::string Name;
  std::unique_ptr<TEventCore> Core;
};

TEvent::TEvent(bool manualReset, bool initialState, const std::string& name)
    : FImpl(std::make_unique<TImpl>()) {
  FImpl->Name = name;
  if (name.empty()) {
    FImpl->Core = std::make_unique<TLocalEvent>(manualReset, initialState);
    return;
  }
  auto shared = std::make_unique<TSharedEvent>();
  if (const int error = shared->Open(name, manualReset, initialState); error != 0) {
    FImpl->Core = std::make_unique<TFailedEvent>(error);
  } else {
    FImpl->Core = std::move(shared);
  }
}

TEvent::~TEvent() = default;

void TEvent::SetEvent() {
  FImpl->Core->Set();
}

void TEvent::ResetEvent() {
  FImpl->Core->Reset();
}

TWaitResult TEvent::WaitFor(unsigned timeoutMs) {
  return FImpl->Core->Wait(timeoutMs);
}

int TEvent::LastError() const {
  return FImpl->Core->LastError;
}

const std::string& TEvent::Name() const {
  return FImpl->Name;
}

}  // namespace morvane
