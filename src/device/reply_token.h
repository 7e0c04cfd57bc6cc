#ifndef HJ5_DEVICE_REPLY_TOKEN_H_
#define HJ5_DEVICE_REPLY_TOKEN_H_

#include <cstddef>
#include <optional>
#include <string_view>

namespace hj5 {

// The token "HJ5_Ret(<n>)" by which the device closes every reply.
struct ReplyToken {
  // The number as "%d" reads it (modulo 2^32 should it not fit an int).
  int code = 0;
  // Whether a ')' follows the number.
  bool closed = false;
  // The token's characters: "HJ5_Ret(", the number, and the ')' if closed.
  std::size_t length = 0;
};

// Reads the token at the start of `at`: "HJ5_Ret(" (case-sensitive), a
// number as scanf's "%d" reads it (white space, an optional sign, digits;
// see ReadLeadingNumber), then an optional ')'. nullopt when `at` does not
// start with "HJ5_Ret(" or no number follows it. Pure; any thread.
std::optional<ReplyToken> ParseReplyToken(std::string_view at);

// Whether `held` ends with a closed token, optionally followed by blanks,
// CR or LF: the device has finished its reply once the line then stays
// quiet. This is the rule the transport is given to end a reply without
// Content-Length. Pure; any thread.
bool EndsWithClosingToken(std::string_view held);

}  // namespace hj5

#endif  // HJ5_DEVICE_REPLY_TOKEN_H_
