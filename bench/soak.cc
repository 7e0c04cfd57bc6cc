// Soak: complete updates in a row against one emulator, the real worker,
// transport and FTP client, the mandated waits on a time-scaled clock. Every
// update must end with "Update completed." and the file stored unchanged.
// The process's open file descriptors, threads and resident memory are
// measured after the 100th and the last update; the growth between them is
// printed, and a non-zero growth of descriptors or threads fails the run.
//
// Usage: soak [updates] [scale] [reboot_seconds]
//        (defaults 1000, 100, 0.02; at most 100000 updates)
#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "proc_status.h"
#include "support/emulator_process.h"
#include "support/headless_update.h"
#include "support/scaled_clock.h"

namespace {

constexpr int kMaxUpdates = 100000;
constexpr int kFirstMark = 100;

struct Usage {
  long fds = 0;
  long threads = 0;
  long rss_kib = 0;
};

long OpenDescriptors() {
  long count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') ++count;
    }
    closedir(dir);
    --count;  // the directory's own descriptor
  }
  return count;
}

Usage Measure() {
  using hj5::bench::StatusField;
  return {OpenDescriptors(), StatusField("Threads"), StatusField("VmRSS")};
}

void Print(const char* label, const Usage& usage) {
  std::printf("%-14s fds %ld  threads %ld  VmRSS %ld KiB\n", label, usage.fds,
              usage.threads, usage.rss_kib);
}

std::string Content() {
  std::ostringstream content;
  content << "<?xml version=\"1.0\"?>\r\n<config>\n";
  for (int i = 0; i < 400; ++i) content << "  <item n=\"" << i << "\"/>\n";
  content << "</config>\n";
  return content.str();
}

// One update; false (after printing why) when it did not complete.
bool OneUpdate(hj5::test::HeadlessUpdate& update,
               hj5::test::EmulatorProcess& device, const std::string& content,
               int number) {
  update.Run(1);
  const bool stored = device.StoredFile("soak.xml") == content;
  if (update.LastStatus() == "Update completed." && stored) return true;
  std::fprintf(stderr, "update %d ended with \"%s\"%s\n", number,
               update.LastStatus().c_str(),
               stored ? "" : " and the stored file differs");
  for (const std::string& line : update.Lines())
    std::fprintf(stderr, "  %s\n", line.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const int updates = argc > 1 ? std::atoi(argv[1]) : 1000;
  const double scale = argc > 2 ? std::atof(argv[2]) : 100;
  const std::string reboot = argc > 3 ? argv[3] : "0.02";
  if (updates <= kFirstMark || updates > kMaxUpdates || scale < 1) {
    std::fprintf(stderr,
                 "usage: soak [updates 101..%d] [scale >= 1] "
                 "[reboot_seconds]\n",
                 kMaxUpdates);
    return 2;
  }
  hj5::test::EmulatorProcess device({"--reboot-seconds", reboot});
  if (!device.ok()) {
    std::fprintf(stderr, "emulator: %s\n", device.error().c_str());
    return 1;
  }
  const std::string content = Content();
  const std::string path = "/tmp/hj5-soak-" + std::to_string(getpid()) + ".xml";
  std::ofstream(path, std::ios::binary) << content;
  hj5::test::ScaledClock clock(scale);
  hj5::test::HeadlessUpdate update(clock, device.http_port(), device.ftp_port(),
                                   path, "soak.xml");
  std::printf("%d updates, scale %g, reboot %s s\n", updates, scale,
              reboot.c_str());
  Print("before", Measure());
  Usage first;
  const auto start = std::chrono::steady_clock::now();
  bool ok = true;
  for (int i = 1; ok && i <= updates; ++i) {
    ok = OneUpdate(update, device, content, i);
    if (i % 100 == 0) device.ClearRecords();  // keeps the emulator small
    if (i == kFirstMark) {
      first = Measure();
      Print("update 100", first);
    }
  }
  std::remove(path.c_str());
  if (!ok) return 1;
  const Usage last = Measure();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  char label[32];
  std::snprintf(label, sizeof label, "update %d", updates);
  Print(label, last);
  std::printf("growth 100 -> %d: fds %+ld  threads %+ld  VmRSS %+ld KiB\n",
              updates, last.fds - first.fds, last.threads - first.threads,
              last.rss_kib - first.rss_kib);
  std::printf("all %d updates completed in %.1f s (%.0f ms each)\n", updates,
              seconds, 1000 * seconds / updates);
  return last.fds == first.fds && last.threads == first.threads ? 0 : 1;
}
