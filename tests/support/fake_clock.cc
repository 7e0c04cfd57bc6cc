#include "support/fake_clock.h"

#include <cstdio>

namespace hj5::test {

std::string FakeClock::Stamp() const {
  char text[32];
  std::int64_t ms = now_ms_;
  std::snprintf(text, sizeof text, "%lld.%03lld",
                static_cast<long long>(ms / 1000),
                static_cast<long long>(ms % 1000));
  return text;
}

}  // namespace hj5::test
