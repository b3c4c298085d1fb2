#pragma once
// The CPU time another process has used, for the tests and the benchmarks.

#include <sys/types.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace testing_support {

// User and system CPU seconds the process `pid` has used so far.
inline double ProcessCpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string field;
  double ticks = 0;
  for (int i = 1; i <= 15 && stat >> field; ++i) {
    if (i >= 14) ticks += std::stod(field);  // utime, stime
  }
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace testing_support
