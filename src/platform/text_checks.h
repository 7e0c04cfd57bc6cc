#ifndef HJ5_PLATFORM_TEXT_CHECKS_H_
#define HJ5_PLATFORM_TEXT_CHECKS_H_

#include <string_view>

namespace hj5 {

// True when `text` holds a byte below 0x20 (CR, LF, NUL, tab...) or, with
// `include_delete`, the byte 0x7F. Such a byte in a user name, password or
// path would end an FTP command line early or smuggle in a second command
// ("x\r\nDELE y"); DEL is refused in credentials too, since no operator
// types it there.
inline bool HasControlByte(std::string_view text, bool include_delete) {
  for (unsigned char c : text) {
    if (c < 0x20 || (include_delete && c == 0x7F)) return true;
  }
  return false;
}

}  // namespace hj5

#endif  // HJ5_PLATFORM_TEXT_CHECKS_H_
