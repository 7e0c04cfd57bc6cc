// A private copy on a POSIX system: an unnamed file in the temporary folder.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>

#include "platform/file_writes.h"
#include "platform/spill_file.h"

namespace hj5 {
namespace {

Status SystemFailure(const char* step, int error) {
  return Status::Failure(
      -1, std::string(step) + ": " + std::generic_category().message(error));
}

class PosixSpillFile final : public SpillFile {
 public:
  explicit PosixSpillFile(int fd) : fd_(fd) {}
  ~PosixSpillFile() override { ::close(fd_); }

  Status Append(std::string_view bytes) override {
    if (const int error = WriteAll(fd_, bytes); error != 0)
      return SystemFailure("write", error);
    size_ += bytes.size();
    return Status();
  }

  std::uint64_t Size() const override { return size_; }

  Status ReadAt(std::uint64_t offset, char* buffer, std::size_t size,
                std::size_t* got) const override {
    *got = 0;
    for (;;) {
      const ssize_t n = ::pread(fd_, buffer, size, static_cast<off_t>(offset));
      if (n >= 0) {
        *got = static_cast<std::size_t>(n);
        return Status();
      }
      if (errno != EINTR) return SystemFailure("read", errno);
    }
  }

 private:
  const int fd_;
  std::uint64_t size_ = 0;
};

}  // namespace

Status SpillFile::Create(std::unique_ptr<SpillFile>* file) {
  const char* folder = std::getenv("TMPDIR");
  const std::string dir = folder && *folder ? folder : "/tmp";
  int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {  // a file system without unnamed files
    std::string name = dir + "/hj5-snapshot-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return SystemFailure(("create in " + dir).c_str(), errno);
    ::unlink(name.c_str());
  }
  *file = std::make_unique<PosixSpillFile>(fd);
  return Status();
}

}  // namespace hj5
