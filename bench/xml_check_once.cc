// Runs the XML check once on a file and prints the time it took and the
// peak resident memory it added: "<result> <microseconds> <extra KiB>".
#include <sys/resource.h>

#include <chrono>
#include <cstdio>

#include "xmlcheck/xml_file_check.h"

namespace {

long PeakKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  const long before = PeakKiB();
  const auto start = std::chrono::steady_clock::now();
  const hj5::Status result = hj5::CheckXmlFile(argv[1]);
  const auto took = std::chrono::steady_clock::now() - start;
  const char* name = result.ok() ? "accepted"
                     : result.code() == hj5::xml_code::kUnreadable
                         ? "unreadable"
                         : "refused";
  std::printf(
      "%s %lld %ld\n", name,
      static_cast<long long>(
          std::chrono::duration_cast<std::chrono::microseconds>(took).count()),
      PeakKiB() - before);
  return 0;
}
