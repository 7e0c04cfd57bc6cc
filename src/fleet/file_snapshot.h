#ifndef HJ5_FLEET_FILE_SNAPSHOT_H_
#define HJ5_FLEET_FILE_SNAPSHOT_H_

#include <cstdint>
#include <memory>
#include <string>

#include "platform/file_bytes.h"
#include "platform/sequential_file.h"
#include "platform/spill_file.h"

namespace hj5::fleet {

// The chosen file as a run read it, once: every upload and every read-back
// sends these bytes, whatever becomes of the file on the disk meanwhile.
// Held in memory up to a bound (a device's XML file is a few kilobytes;
// shared read-only by every upload it costs its size once); a larger file
// is copied into a private temporary file (SpillFile) instead, so that the
// memory a run takes stays bounded whatever the file.
//
// Threading: read-only once made; any thread.
class FileSnapshot final : public FileBytes {
 public:
  static constexpr std::uint64_t kMemoryLimit = 64 << 20;

  // Reads `file` from where it stands to its end, hashing it on the way.
  // A failure's cause says why it could not be read or kept.
  static Status Take(SequentialFile& file, std::uint64_t memory_limit,
                     std::unique_ptr<FileSnapshot>* snapshot);

  std::uint64_t Size() const override;
  Status ReadAt(std::uint64_t offset, char* buffer, std::size_t size,
                std::size_t* got) const override;

  // The bytes' SHA-256, 64 lower-case hex digits.
  const std::string& sha256() const { return sha256_; }
  bool in_memory() const { return !spill_; }

 private:
  FileSnapshot() = default;

  std::string bytes_;                 // when in memory
  std::unique_ptr<SpillFile> spill_;  // else
  std::string sha256_;
};

}  // namespace hj5::fleet

#endif  // HJ5_FLEET_FILE_SNAPSHOT_H_
