#pragma once
// Runs test_platform_helper as a separate process, for what needs a second process or a
// fresh one.

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace morvane::test {

struct THelperRun {
  pid_t Pid = -1;
  int OutputFd = -1;  // the helper's stdout and stderr
};

// env: entries "NAME=value" added to (or, with an empty value "NAME=", removing from) the
// inherited environment.
inline THelperRun StartHelper(const std::vector<std::string>& args,
                              const std::vector<std::string>& env = {}) {
  THelperRun run;
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return run;
  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const std::string& extra : env) {
      if (entry.compare(0, extra.find('=') + 1, extra, 0, extra.find('=') + 1) == 0)
        replaced = true;
    }
    if (!replaced) envStrings.push_back(entry);
  }
  for (const std::string& extra : env) {
    if (extra.back() != '=') envStrings.push_back(extra);
  }
  std::vector<std::string> argStrings{MORVANE_PLATFORM_HELPER};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
  if (posix_spawn(&run.Pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
    run.Pid = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  run.OutputFd = pipeFds[0];
  return run;
}

// Waits for the helper to end; returns its wait status and everything it printed.
inline int FinishHelper(THelperRun& run, std::string* output = nullptr) {
  std::string text;
  char buffer[512];
  for (;;) {
    const ssize_t n = read(run.OutputFd, buffer, sizeof buffer);
    if (n > 0) {
      text.append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  close(run.OutputFd);
  run.OutputFd = -1;
  int status = -1;
  while (run.Pid > 0 && waitpid(run.Pid, &status, 0) < 0 && errno == EINTR) {
  }
  run.Pid = -1;
  if (output) *output = text;
  return status;
}

inline int RunHelper(const std::vector<std::string>& args, std::string* output = nullptr,
                     const std::vector<std::string>& env = {}) {
  THelperRun run = StartHelper(args, env);
  return FinishHelper(run, output);
}

}  // namespace morvane::test
