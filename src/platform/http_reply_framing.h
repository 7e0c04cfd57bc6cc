#ifndef HJ5_PLATFORM_HTTP_REPLY_FRAMING_H_
#define HJ5_PLATFORM_HTTP_REPLY_FRAMING_H_

#include <string_view>

namespace hj5 {

// Whether `held` starts with a complete HTTP response by its Content-Length:
// the header block ends with an empty line, one header line is
// "Content-Length: <digits>" (name in any case, blanks around the colon) and
// at least that many bytes follow the empty line. False without such a
// header. Pure; any thread.
bool CompleteByContentLength(std::string_view held);

}  // namespace hj5

#endif  // HJ5_PLATFORM_HTTP_REPLY_FRAMING_H_
