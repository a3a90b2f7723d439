#pragma once
// A session bus of the test process's own: the tests that own "org.morvane.Morvane" or count
// every "MORVANE_MESSAGE" share nothing with test programs running beside them. The programs
// it starts inherit the address. Its configuration (session-bus.conf) reads no service files,
// so a call to a name nobody owns fails rather than starting an installed Morvane.

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace morvane::test {

class TPrivateBus {
 public:
  TPrivateBus() {
    int out[2];
    if (pipe(out) != 0) return;
    const pid_t parent = getpid();
    FPid = fork();
    if (FPid == 0) {
      // The daemon goes when the test does, also when the test is killed.
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (getppid() != parent) _exit(1);
      dup2(out[1], 1);
      const int null = open("/dev/null", O_RDWR);
      dup2(null, 0);
      dup2(null, 2);
      for (int fd = 3; fd < 1024; ++fd) close(fd);
      execlp("dbus-daemon", "dbus-daemon", "--config-file=" MORVANE_TEST_BUS_CONFIG, "--nofork",
             "--print-address=1", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    std::string address;
    char c;
    while (FPid > 0 && read(out[0], &c, 1) == 1 && c != '\n') address.push_back(c);
    close(out[0]);
    // Without a bus of its own the test must not fall back on the user's: an address that
    // leads nowhere makes every bus call fail instead.
    if (address.empty()) address = "unix:path=/nonexistent/morvane-test-bus";
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
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
