#pragma once
// Runs a program as a user would from a shell: its exit status, standard output and standard
// error, with extra environment entries.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace morvane::test {

struct TToolResult {
  int Status = -1;  // exit status, or -1 when killed or not started
  std::string Out;
  std::string Err;
};

class TToolProcess {
 public:
  TToolProcess(const std::string& program, const std::vector<std::string>& args,
               const std::vector<std::string>& env = {}) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
    std::vector<std::string> strings{program};
    strings.insert(strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : strings) argv.push_back(s.data());
    argv.push_back(nullptr);
    // The entries given replace inherited ones of the same name.
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) {
      const std::string entry = *e;
      const std::string name = entry.substr(0, entry.find('=') + 1);
      bool replaced = false;
      for (const std::string& extra : env)
        replaced = replaced || extra.compare(0, name.size(), name) == 0;
      if (!replaced) envStrings.push_back(entry);
    }
    envStrings.insert(envStrings.end(), env.begin(), env.end());
    std::vector<char*> envp;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    if (posix_spawn(&FPid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) FPid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    FOut = out[0];
    FErr = err[0];
  }
  ~TToolProcess() {
    if (FPid > 0) {
      kill(FPid, SIGKILL);
      waitpid(FPid, nullptr, 0);
    }
    if (FOut >= 0) close(FOut);
    if (FErr >= 0) close(FErr);
  }
  TToolProcess(const TToolProcess&) = delete;
  TToolProcess& operator=(const TToolProcess&) = delete;

  void Signal(int sig) {
    if (FPid > 0) kill(FPid, sig);
  }
  const std::string& OutSoFar() {
    Pump(0);
    return FResult.Out;
  }

  // Collects its output until it exits or timeoutMs pass (then it is killed).
  TToolResult Wait(int timeoutMs = 30000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (FPid > 0) {
      Pump(20);
      int status = 0;
      if (waitpid(FPid, &status, WNOHANG) == FPid) {
        FPid = -1;
        FResult.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      } else if (std::chrono::steady_clock::now() >= end) {
        kill(FPid, SIGKILL);
        waitpid(FPid, nullptr, 0);
        FPid = -1;
      }
    }
    while (Pump(0)) {
    }
    return FResult;
  }

 private:
  // Reads what is there; true if anything was read.
  bool Pump(int waitMs) {
    pollfd fds[2] = {{FOut, POLLIN, 0}, {FErr, POLLIN, 0}};
    if (poll(fds, 2, waitMs) <= 0) return false;
    bool any = false;
    char buf[4096];
    for (int i = 0; i < 2; ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        (i == 0 ? FResult.Out : FResult.Err).append(buf, static_cast<size_t>(n));
        any = true;
      }
    }
    return any;
  }

  pid_t FPid = -1;
  int FOut = -1;
  int FErr = -1;
  TToolResult FResult;
};

inline TToolResult RunTool(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& env = {}, int timeoutMs = 30000) {
  TToolProcess p(program, args, env);
  return p.Wait(timeoutMs);
}

}  // namespace morvane::test
