#pragma once
// Processor time of this process's threads, read from /proc, in seconds.

#include <sys/types.h>
#include <map>
#include <string>

namespace morvane::bench {

struct TThreadCpu {
  std::string Name;
  double Seconds;
};

// Every live thread of the process by thread id.
std::map<pid_t, TThreadCpu> ReadThreadCpu();
// The whole process, threads that ended included.
double ProcessCpuSeconds();

}  // namespace morvane::bench
