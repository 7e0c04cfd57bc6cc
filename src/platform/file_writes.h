#ifndef HJ5_PLATFORM_FILE_WRITES_H_
#define HJ5_PLATFORM_FILE_WRITES_H_

// What the local file adapters share: a buffer written whole, and a name
// nobody can guess. Any thread.

#include <random>
#include <string>
#include <string_view>

#ifdef _WIN32
#include <windows.h>

#include <algorithm>
#else
#include <unistd.h>

#include <cerrno>
#endif

namespace hj5 {

#ifdef _WIN32
// False, with GetLastError() telling why, when not all could be written.
inline bool WriteAll(HANDLE handle, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    const DWORD size =
        static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    if (!WriteFile(handle, bytes.data(), size, &written, nullptr) ||
        written == 0)
      return false;
    bytes.remove_prefix(written);
  }
  return true;
}
#else
// 0, or the errno of the write that failed (ENOSPC for one that wrote
// nothing).
inline int WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : ENOSPC;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}
#endif

// 32 hex digits from the system's random source: a temporary file's name
// that nobody can plant a link at in advance.
inline std::string UniqueSuffix() {
  static constexpr char kHex[] = "0123456789abcdef";
  std::random_device random;
  std::string suffix;
  for (int i = 0; i < 4; ++i) {
    for (unsigned word = random(), n = 0; n < 8; ++n, word >>= 4)
      suffix += kHex[word & 15];
  }
  return suffix;
}

}  // namespace hj5

#endif  // HJ5_PLATFORM_FILE_WRITES_H_
