#pragma once
// A pseudo-terminal pair: the test talks on the master side, the port under test opens the
// slave.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "platform/Timing.h"

namespace morvane::test {

class TPtyPair {
 public:
  TPtyPair() {
    FMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (FMaster < 0 || grantpt(FMaster) != 0 || unlockpt(FMaster) != 0) return;
    char name[128];
    if (ptsname_r(FMaster, name, sizeof name) == 0) FSlavePath = name;
  }
  ~TPtyPair() { CloseMaster(); }
  TPtyPair(const TPtyPair&) = delete;
  TPtyPair& operator=(const TPtyPair&) = delete;

  bool Ok() const { return FMaster >= 0 && !FSlavePath.empty(); }
  int Master() const { return FMaster; }
  const std::string& SlavePath() const { return FSlavePath; }

  void CloseMaster() {
    if (FMaster >= 0) close(FMaster);
    FMaster = -1;
  }

  // Puts bytes on the line towards the port.
  bool Send(std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(FMaster, bytes.data() + done, bytes.size() - done);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  // What the port wrote: up to count bytes, or what came within timeoutMs.
  std::string Receive(size_t count, int timeoutMs = 2000) {
    std::string got;
    const int64_t end = MonotonicMicros() + int64_t{timeoutMs} * 1000;
    while (got.size() < count) {
      const int64_t left = (end - MonotonicMicros()) / 1000;
      if (left <= 0) break;
      pollfd fd{FMaster, POLLIN, 0};
      if (poll(&fd, 1, static_cast<int>(left)) <= 0) break;
      char buffer[4096];
      const ssize_t n = read(FMaster, buffer, std::min(sizeof buffer, count - got.size()));
      if (n <= 0) break;
      got.append(buffer, static_cast<size_t>(n));
    }
    return got;
  }

  // Reads and discards whatever the port has written until the line has been quiet a while.
  size_t Drain(int quietMs = 50) {
    size_t total = 0;
    for (;;) {
      pollfd fd{FMaster, POLLIN, 0};
      if (poll(&fd, 1, quietMs) <= 0) return total;
      char buffer[65536];
      const ssize_t n = read(FMaster, buffer, sizeof buffer);
      if (n <= 0) return total;
      total += static_cast<size_t>(n);
    }
  }

 private:
  int FMaster = -1;
  std::string FSlavePath;
};

}  // namespace morvane::test
