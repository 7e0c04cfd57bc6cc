#ifndef HJ5_PLATFORM_SHA256_H_
#define HJ5_PLATFORM_SHA256_H_

#include <string>

#include "platform/sequential_file.h"
#include "platform/status.h"

namespace hj5 {

// The SHA-256 of what `file` holds from where it stands to its end, as 64
// lower-case hex digits: nettle on Linux, the system's CNG on Windows. A
// failure's cause says why the file could not be read. Any thread.
Status Sha256Of(SequentialFile& file, std::string* hex);

}  // namespace hj5

#endif  // HJ5_PLATFORM_SHA256_H_
