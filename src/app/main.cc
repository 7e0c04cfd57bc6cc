// hj5-xml-update: puts an XML file onto an HJ-5 device and runs its update.

#include <cstdio>
#include <cstring>

#include "app/update_app.h"
#include "hj5_version.h"

int main(int argc, char** argv) {
  // Answered before the toolkit starts, so that it needs no display.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      const bool written = std::puts("hj5-xml-update " HJ5_VERSION) >= 0 &&
                           std::fflush(stdout) == 0;
      return written ? 0 : 1;
    }
  }
  hj5::UpdateApp app(argc, argv);
  return app.Run();
}
