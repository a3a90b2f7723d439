#pragma once
// Modem lines played by a test, with the semantics of the kernel's tty ioctls, for a port
// opened on a pseudo-terminal (which has no modem lines of its own):
// - each change of an input line adds one to its interrupt counter (TIOCGICOUNT);
// - a wait (TIOCMIWAIT) notes the counters when it begins and returns when one of the lines
//   it watches has changed since; a change before it began does not end it, a change of a line
//   it does not watch does not end it either; a signal ends it with EINTR;
// - once the line hangs up (the pty's other side closed, or Vanish()), every call fails with
//   EIO and a wait in progress returns at once.

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/PosixModemIo.h"

namespace morvane::test {

struct TKernelModemLines {
  TKernelModemLines() : WakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~TKernelModemLines() { close(WakeFd); }
  TKernelModemLines(const TKernelModemLines&) = delete;
  TKernelModemLines& operator=(const TKernelModemLines&) = delete;

  // Toggles the input lines given (TIOCM_CTS, TIOCM_DSR) and counts the changes.
  void Change(int line) {
    Lines ^= line;
    if (line & TIOCM_CTS) ++Cts;
    if (line & TIOCM_DSR) ++Dsr;
    Wake();
  }

  // The device goes away, as a USB adapter pulled out.
  void Vanish() {
    Gone = true;
    Wake();
  }

  std::vector<std::string> Calls() {
    const std::lock_guard<std::mutex> guard(Lock);
    return Log;
  }

  void Wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(WakeFd, &one, sizeof one);
  }

  // Blocks until pred holds, checked again as a wait is entered, starts or ends and as the
  // counters are read, or until the deadline passes: a test follows the port's threads without
  // polling them.
  template <typename P>
  bool Await(P pred, std::chrono::milliseconds deadline) {
    std::unique_lock<std::mutex> lock(EntryLock);
    return EntryChanged.wait_for(lock, deadline, pred);
  }
  void NoteEntry() {
    { const std::lock_guard<std::mutex> guard(EntryLock); }  // a waiter between check and sleep
    EntryChanged.notify_all();
  }

  std::atomic<int> Lines{0};  // TIOCM_* bits
  std::atomic<int> Cts{0};    // interrupt counters
  std::atomic<int> Dsr{0};
  std::mutex Lock;
  std::vector<std::string> Log;  // the output-line calls, under Lock

  std::atomic<bool> Gone{false};
  std::atomic<bool> HaveCounters{true};  // false: a driver without TIOCGICOUNT
  std::atomic<int> WaitError{0};         // nonzero: a driver that refuses TIOCMIWAIT so
  // Time between the caller's entry and the kernel noting the counters, as when the thread is
  // preempted on its way into the wait; signals landing in it are gone before the wait blocks.
  std::atomic<int> DelayBeforeWaitMs{0};
  std::atomic<int> WaitEntries{0};
  std::atomic<int> InWait{0};
  std::mutex EntryLock;
  std::atomic<int> CountReads{0};        // of the interrupt counters
  std::condition_variable EntryChanged;  // WaitEntries, InWait or CountReads changed
  int WakeFd;
};

class TKernelModemIo final : public TModemIo {
 public:
  explicit TKernelModemIo(std::shared_ptr<TKernelModemLines> lines) : FLines(std::move(lines)) {}

  int GetLines(int fd, int& lines) override {
    if (HungUp(fd)) return EIO;
    lines = FLines->Lines;
    return 0;
  }

  int ChangeLines(int fd, int lines, bool raise) override {
    if (HungUp(fd)) return EIO;
    std::string call = raise ? "raise" : "clear";
    if (lines & TIOCM_RTS) call += " RTS";
    if (lines & TIOCM_DTR) call += " DTR";
    {
      const std::lock_guard<std::mutex> guard(FLines->Lock);
      FLines->Log.push_back(call);
    }
    if (raise) {
      FLines->Lines |= lines;
    } else {
      FLines->Lines &= ~lines;
    }
    return 0;
  }

  int GetCounts(int fd, TModemCounts& counts) override {
    ++FLines->CountReads;
    FLines->NoteEntry();
    if (HungUp(fd)) return EIO;
    if (!FLines->HaveCounters) return EINVAL;
    counts.Cts = FLines->Cts;
    counts.Dsr = FLines->Dsr;
    return 0;
  }

  int WaitChange(int fd, int lines) override {
    ++FLines->WaitEntries;
    FLines->NoteEntry();
    if (const int error = FLines->WaitError; error != 0) return error;
    if (const int delay = FLines->DelayBeforeWaitMs; delay > 0) {
      const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(delay);
      while (std::chrono::steady_clock::now() < end) {
        timespec ts{0, 200000};
        nanosleep(&ts, nullptr);  // a signal here is handled and forgotten
      }
    }
    const int cts0 = FLines->Cts;
    const int dsr0 = FLines->Dsr;
    ++FLines->InWait;
    FLines->NoteEntry();
    int result = 0;
    for (;;) {
      if (HungUp(fd)) {
        result = EIO;
        break;
      }
      if (((lines & TIOCM_CTS) && FLines->Cts != cts0) ||
          ((lines & TIOCM_DSR) && FLines->Dsr != dsr0))
        break;
      pollfd fds[2] = {{FLines->WakeFd, POLLIN, 0}, {fd, 0, 0}};
      if (poll(fds, 2, -1) < 0 && errno == EINTR) {
        result = EINTR;
        break;
      }
      uint64_t drained;
      [[maybe_unused]] const ssize_t n = read(FLines->WakeFd, &drained, sizeof drained);
    }
    --FLines->InWait;
    FLines->NoteEntry();
    return result;
  }

 private:
  bool HungUp(int fd) const {
    if (FLines->Gone) return true;
    pollfd p{fd, 0, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
  }

  std::shared_ptr<TKernelModemLines> FLines;
};

}  // namespace morvane::test
