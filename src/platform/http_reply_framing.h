#ifndef HJ5_PLATFORM_HTTP_REPLY_FRAMING_H_
#define HJ5_PLATFORM_HTTP_REPLY_FRAMING_H_

#include <string_view>

namespace hj5 {

// What the Content-Length of the HTTP response that `held` starts with says
// of its end: the header block ends with an empty line and one header line
// is "Content-Length: <digits>" (name in any case, blanks around the colon).
enum class LengthFraming {
  kNone,   // no complete header block yet, or no Content-Length in it
  kShort,  // fewer bytes than it names follow the empty line
  kMet,    // at least as many bytes as it names follow the empty line
};

// Pure; any thread.
LengthFraming FramingByContentLength(std::string_view held);

}  // namespace hj5

#endif  // HJ5_PLATFORM_HTTP_REPLY_FRAMING_H_
