#ifndef HJ5_PLATFORM_SEQUENTIAL_FILE_H_
#define HJ5_PLATFORM_SEQUENTIAL_FILE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/status.h"

namespace hj5 {

// A local file read from its start to its end: the XML check reads the
// chosen file so, and the FTP clients send it so. The file is closed when
// the object goes.
//
// Threading: one thread at a time.
class SequentialFile {
 public:
  SequentialFile() = default;
  SequentialFile(const SequentialFile&) = delete;
  SequentialFile& operator=(const SequentialFile&) = delete;
  virtual ~SequentialFile() = default;

  // Reads up to `size` bytes into `buffer` and sets `*got` to how many were
  // read, 0 at the end of the file. A failure's cause is "read: <the
  // system's text>".
  virtual Status Read(char* buffer, std::size_t size, std::size_t* got) = 0;

  // The file's size in bytes when it was opened.
  virtual std::uint64_t Size() const = 0;
};

// Reads `file` to its end in chunks, handing each to `take`.
inline Status ReadChunks(
    SequentialFile& file,
    const std::function<void(const char* bytes, std::size_t size)>& take) {
  std::vector<char> buffer(1 << 16);
  for (std::size_t got = 0;;) {
    if (Status read = file.Read(buffer.data(), buffer.size(), &got); !read.ok())
      return read;
    if (got == 0) return Status();
    take(buffer.data(), got);
  }
}

// Whom the open file is shared with, where the system keeps such a rule
// (Windows; elsewhere every open is shared).
enum class FileSharing {
  kNone,     // the open fails while another program holds the file open
  kReaders,  // others may read it meanwhile: the uploads of a fleet
};

// Opens the regular file at `path` (UTF-8; on Windows converted to UTF-16,
// so any folder's name opens) for reading into `*file`. A failure (code -1)
// says why in its cause ("open: <the system's text>", "not a regular file",
// ...) and leaves `*file` null; a FIFO or a device never blocks the open.
// Any thread.
Status OpenSequentialFile(const std::string& path,
                          std::unique_ptr<SequentialFile>* file,
                          FileSharing sharing = FileSharing::kNone);

}  // namespace hj5

#endif  // HJ5_PLATFORM_SEQUENTIAL_FILE_H_
