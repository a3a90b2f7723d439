// The second process of the platform tests. Commands:
//   set-event NAME DELAY_MS      sets the named event after the delay; prints the time of the set
//   wait-event NAME TIMEOUT_MS   exits with the wait result (0 signalled, 1 time-out, ...)
//   die-holding-lock NAME        takes the named event's lock and is killed holding it
//   set-event-and-die NAME       sets the named event and is killed with it open
//   broadcast NAME TEXT LPARAM   registers NAME and broadcasts on it

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/Broadcast.h"
#include "platform/Event.h"
#include "platform/SharedEventBlock.h"
#include "platform/Timing.h"

using namespace morvane;

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "set-event" && argc == 4) {
    TEvent event(false, false, argv[2]);
    Sleep(static_cast<uint32_t>(std::atoi(argv[3])));
    const int64_t at = MonotonicMicros();
    event.SetEvent();
    std::printf("%lld\n", static_cast<long long>(at));
    return 0;
  }
  if (command == "wait-event" && argc == 4) {
    TEvent event(false, false, argv[2]);
    std::printf("waiting\n");
    std::fflush(stdout);
    return static_cast<int>(event.WaitFor(static_cast<unsigned>(std::atoi(argv[3]))));
  }
  if (command == "set-event-and-die" && argc == 3) {
    TEvent event(false, false, argv[2]);
    event.SetEvent();
    kill(getpid(), SIGKILL);
    return 13;
  }
  if (command == "die-holding-lock" && argc == 3) {
    TEvent event(false, false, argv[2]);
    const int fd = shm_open(SharedEventObjectName(argv[2]).c_str(), O_RDWR, 0);
    if (fd < 0) return 10;
    void* map = mmap(nullptr, sizeof(TSharedEventBlock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) return 11;
    auto* block = static_cast<TSharedEventBlock*>(map);
    if (pthread_mutex_lock(&block->Lock) != 0) return 12;
    kill(getpid(), SIGKILL);
    return 13;
  }
  if (command == "broadcast" && argc == 5) {
    BusBroadcast(RegisterWindowMessage(argv[2]), argv[3], std::atoi(argv[4]));
    return 0;
  }
  std::fprintf(stderr,
               "usage: %s set-event|wait-event|set-event-and-die|die-holding-lock|broadcast ...\n",
               argv[0]);
  return 2;
}
