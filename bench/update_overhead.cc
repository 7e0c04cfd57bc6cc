// A complete update against the emulator with instant restarts, in real
// time. The device needs 16 s of waits (three 1 s pauses and a 5 s wait
// before the first probe on the way in, the same on the way out); what is
// left is the tool's own overhead. Prints each run and the median.
// Usage: update_overhead [runs]   (default 5)
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "platform/steady_clock.h"
#include "support/emulator_process.h"
#include "support/headless_update.h"

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
  hj5::test::EmulatorProcess device({"--reboot-seconds", "0"});
  if (!device.ok()) {
    std::fprintf(stderr, "emulator: %s\n", device.error().c_str());
    return 1;
  }
  const std::string path = "/tmp/hj5-overhead-" + std::to_string(getpid());
  std::ofstream(path) << "<?xml version=\"1.0\"?>\n<config/>\n";
  hj5::SteadyClock clock;
  hj5::test::HeadlessUpdate update(clock, device.http_port(), device.ftp_port(),
                                   path, "config.xml");
  std::vector<long long> overheads;
  for (int i = 0; i < runs; ++i) {
    const long long total_ms = update.Run().count();
    if (update.LastStatus() != "Update completed.") {
      std::fprintf(stderr, "run %d ended with \"%s\"\n", i + 1,
                   update.LastStatus().c_str());
      for (const std::string& line : update.Lines())
        std::fprintf(stderr, "  %s\n", line.c_str());
      std::remove(path.c_str());
      return 1;
    }
    overheads.push_back(total_ms - 16000);
    std::printf("run %d: total %lld ms, overhead %lld ms\n", i + 1, total_ms,
                total_ms - 16000);
  }
  std::remove(path.c_str());
  std::sort(overheads.begin(), overheads.end());
  std::printf("median overhead: %lld ms over %d runs (min %lld, max %lld)\n",
              overheads[overheads.size() / 2], runs, overheads.front(),
              overheads.back());
  return 0;
}
