// What the running process uses, for measurement programs that sample it.
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <fstream>

namespace benchutil {

// Resident memory of this process, in MiB.
inline double rssMiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// User and system CPU time of this process so far, in seconds.
inline double cpuSeconds() {
  rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace benchutil
