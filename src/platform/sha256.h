#ifndef HJ5_PLATFORM_SHA256_H_
#define HJ5_PLATFORM_SHA256_H_

#include <string>

#include "platform/status.h"

namespace hj5 {

// The SHA-256 of the file at `path` (UTF-8), as 64 lower-case hex digits,
// read through the platform's file reading: nettle on Linux, the system's
// CNG on Windows. A failure's cause says why the file could not be read.
// Any thread.
Status Sha256OfFile(const std::string& path, std::string* hex);

}  // namespace hj5

#endif  // HJ5_PLATFORM_SHA256_H_
