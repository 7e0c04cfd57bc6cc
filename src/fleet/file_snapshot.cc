#include "fleet/file_snapshot.h"

#include <algorithm>
#include <cstring>

#include "platform/sha256.h"

namespace hj5::fleet {
namespace {

// Reads a file through, keeping each chunk in the snapshot on the way; the
// hash reads through it.
class Keeper final : public SequentialFile {
 public:
  Keeper(SequentialFile& file, std::uint64_t memory_limit, std::string& bytes,
         std::unique_ptr<SpillFile>& spill)
      : file_(file), limit_(memory_limit), bytes_(bytes), spill_(spill) {}

  Status Read(char* buffer, std::size_t size, std::size_t* got) override {
    if (Status read = file_.Read(buffer, size, got); !read.ok()) return read;
    if (!spill_ && bytes_.size() + *got > limit_) {
      if (Status made = SpillFile::Create(&spill_); !made.ok()) return made;
      if (Status moved = spill_->Append(bytes_); !moved.ok()) return moved;
      std::string().swap(bytes_);
    }
    if (spill_) return spill_->Append({buffer, *got});
    bytes_.append(buffer, *got);
    return Status();
  }

  std::uint64_t Size() const override { return file_.Size(); }

 private:
  SequentialFile& file_;
  const std::uint64_t limit_;
  std::string& bytes_;
  std::unique_ptr<SpillFile>& spill_;
};

}  // namespace

Status FileSnapshot::Take(SequentialFile& file, std::uint64_t memory_limit,
                          std::unique_ptr<FileSnapshot>* snapshot) {
  std::unique_ptr<FileSnapshot> taken(new FileSnapshot);
  if (file.Size() <= memory_limit)
    taken->bytes_.reserve(static_cast<std::size_t>(file.Size()));
  Keeper keeper(file, memory_limit, taken->bytes_, taken->spill_);
  if (Status read = Sha256Of(keeper, &taken->sha256_); !read.ok()) return read;
  *snapshot = std::move(taken);
  return Status();
}

std::uint64_t FileSnapshot::Size() const {
  return spill_ ? spill_->Size() : bytes_.size();
}

Status FileSnapshot::ReadAt(std::uint64_t offset, char* buffer,
                            std::size_t size, std::size_t* got) const {
  if (spill_) return spill_->ReadAt(offset, buffer, size, got);
  *got = 0;
  if (offset >= bytes_.size()) return Status();
  *got = std::min<std::size_t>(size, bytes_.size() - offset);
  std::memcpy(buffer, bytes_.data() + offset, *got);
  return Status();
}

}  // namespace hj5::fleet
