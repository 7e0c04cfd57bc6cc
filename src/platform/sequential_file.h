#ifndef HJ5_PLATFORM_SEQUENTIAL_FILE_H_
#define HJ5_PLATFORM_SEQUENTIAL_FILE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace hj5 {

// A local file read from its start to its end, as the XML check reads the
// chosen file. The file is closed when the object goes.
//
// Threading: one thread at a time.
class SequentialFile {
 public:
  SequentialFile() = default;
  SequentialFile(const SequentialFile&) = delete;
  SequentialFile& operator=(const SequentialFile&) = delete;
  virtual ~SequentialFile() = default;

  // Reads up to `size` bytes into `buffer`. Returns how many were read, 0 at
  // the end of the file, or -1 with `*cause` set ("read: <the system's
  // text>").
  virtual std::int64_t Read(char* buffer, std::size_t size,
                            std::string* cause) = 0;
};

// Opens the regular file at `path` (UTF-8; on Windows converted to UTF-16,
// so any folder's name opens) for reading. Returns null, with `*cause` set
// ("open: <the system's text>", "not a regular file", ...), when it cannot
// be opened or is no regular file; a FIFO or a device never blocks the
// open. Any thread.
std::unique_ptr<SequentialFile> OpenSequentialFile(const std::string& path,
                                                   std::string* cause);

}  // namespace hj5

#endif  // HJ5_PLATFORM_SEQUENTIAL_FILE_H_
