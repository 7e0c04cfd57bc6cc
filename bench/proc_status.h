#ifndef HJ5_BENCH_PROC_STATUS_H_
#define HJ5_BENCH_PROC_STATUS_H_

#include <cstdlib>
#include <fstream>
#include <string>

namespace hj5::bench {

// The number of a "Name:  value" line of /proc/self/status (kB for the
// memory lines); -1 when missing.
inline long StatusField(const std::string& name) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(name + ":", 0) == 0) {
      return std::strtol(line.c_str() + name.size() + 1, nullptr, 10);
    }
  }
  return -1;
}

}  // namespace hj5::bench

#endif  // HJ5_BENCH_PROC_STATUS_H_
