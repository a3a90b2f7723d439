#include "ThreadCpu.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace morvane::bench {

std::map<pid_t, TThreadCpu> ReadThreadCpu() {
  std::map<pid_t, TThreadCpu> out;
  const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
  DIR* dir = opendir("/proc/self/task");
  if (!dir) return out;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    const std::string base = std::string("/proc/self/task/") + e->d_name;
    FILE* f = std::fopen((base + "/stat").c_str(), "r");
    if (!f) continue;
    char line[1024] = {};
    const bool got = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    if (!got) continue;
    // The name stands in parentheses and may hold blanks; the fields follow the last ')'.
    const char* open = std::strchr(line, '(');
    const char* close = std::strrchr(line, ')');
    if (!open || !close) continue;
    unsigned long utime = 0, stime = 0;
    if (std::sscanf(close + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime,
                    &stime) != 2)
      continue;
    double seconds = (utime + stime) / tick;
    // schedstat counts in nanoseconds where the kernel keeps it; stat only in clock ticks.
    if (FILE* s = std::fopen((base + "/schedstat").c_str(), "r")) {
      unsigned long long ns = 0;
      if (std::fscanf(s, "%llu", &ns) == 1) seconds = ns / 1e9;
      std::fclose(s);
    }
    out[static_cast<pid_t>(std::atoi(e->d_name))] = {std::string(open + 1, close), seconds};
  }
  closedir(dir);
  return out;
}

double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace morvane::bench
