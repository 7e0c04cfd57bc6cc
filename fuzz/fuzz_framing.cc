// Feeds arbitrary server bytes to the reply framing (Content-Length, and
// the device's closing token the transport is given), whole and in every
// prefix a reader could hold, and checks what it decides against plain
// readings of the rules.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "device/reply_token.h"
#include "platform/http_reply_framing.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// A complete response stays complete as more bytes arrive, and one that
// names its length never forgets it.
void CheckMonotonic(std::string_view held) {
  hj5::LengthFraming seen = hj5::LengthFraming::kNone;
  for (std::size_t n = 0; n <= held.size(); ++n) {
    const hj5::LengthFraming now =
        hj5::FramingByContentLength(held.substr(0, n));
    Check(seen != hj5::LengthFraming::kMet || now == hj5::LengthFraming::kMet);
    Check(seen == hj5::LengthFraming::kNone ||
          now != hj5::LengthFraming::kNone);
    seen = now;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size > 4096) return 0;
  const std::string_view held(reinterpret_cast<const char*>(data), size);
  CheckMonotonic(held);
  if (hj5::EndsWithClosingToken(held)) {
    Check(held.find("HJ5_Ret(") != std::string_view::npos);
    Check(held.find(')') != std::string_view::npos);
    // Line ends after the token keep it closing; anything else does not.
    const std::string more(held);
    Check(hj5::EndsWithClosingToken(more + " \r\n"));
    Check(!hj5::EndsWithClosingToken(more + "x"));
  }
  if (hj5::FramingByContentLength(held) != hj5::LengthFraming::kNone) {
    Check(held.find("\r\n\r\n") != std::string_view::npos);
  }
  return 0;
}
