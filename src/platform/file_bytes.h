#ifndef HJ5_PLATFORM_FILE_BYTES_H_
#define HJ5_PLATFORM_FILE_BYTES_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/sequential_file.h"
#include "platform/status.h"

namespace hj5 {

// The bytes of a file as they were read once, shared read-only by every
// upload of a run: an edit or removal of the file on the disk changes none
// of them.
//
// Threading: any thread, also several at once.
class FileBytes {
 public:
  FileBytes() = default;
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;
  virtual ~FileBytes() = default;

  virtual std::uint64_t Size() const = 0;

  // Reads up to `size` bytes from `offset` into `buffer`; `*got` is 0 at
  // the end. A failure's cause says why.
  virtual Status ReadAt(std::uint64_t offset, char* buffer, std::size_t size,
                        std::size_t* got) const = 0;
};

// A SequentialFile reading `bytes` from their start; `bytes` must outlive
// it.
inline std::unique_ptr<SequentialFile> ReadFromStart(const FileBytes& bytes) {
  class Cursor final : public SequentialFile {
   public:
    explicit Cursor(const FileBytes& bytes) : bytes_(bytes) {}
    Status Read(char* buffer, std::size_t size, std::size_t* got) override {
      const Status read = bytes_.ReadAt(offset_, buffer, size, got);
      if (read.ok()) offset_ += *got;
      return read;
    }
    std::uint64_t Size() const override { return bytes_.Size(); }

   private:
    const FileBytes& bytes_;
    std::uint64_t offset_ = 0;
  };
  return std::make_unique<Cursor>(bytes);
}

}  // namespace hj5

#endif  // HJ5_PLATFORM_FILE_BYTES_H_
