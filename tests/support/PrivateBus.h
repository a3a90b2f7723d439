#pragma once
// A session bus of the test process's own: the tests that own "org.morvane.Morvane" or count
// every "MORVANE_MESSAGE" share nothing with test programs running beside them. The programs
// it starts inherit the address.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

extern char** environ;

namespace morvane::test {

class TPrivateBus {
 public:
  TPrivateBus() {
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char program[] = "dbus-daemon";
    char session[] = "--session";
    char nofork[] = "--nofork";
    char print[] = "--print-address=1";
    char* argv[] = {program, session, nofork, print, nullptr};
    if (posix_spawnp(&FPid, program, &actions, nullptr, argv, environ) != 0) FPid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string address;
    char c;
    while (FPid > 0 && read(out[0], &c, 1) == 1 && c != '\n') address.push_back(c);
    close(out[0]);
    if (!address.empty()) setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
  }
  ~TPrivateBus() {
    if (FPid <= 0) return;
    kill(FPid, SIGTERM);
    waitpid(FPid, nullptr, 0);
  }
  TPrivateBus(const TPrivateBus&) = delete;
  TPrivateBus& operator=(const TPrivateBus&) = delete;

 private:
  pid_t FPid = -1;
};

}  // namespace morvane::test
