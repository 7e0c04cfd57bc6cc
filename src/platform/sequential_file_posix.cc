// Local files through POSIX calls.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/sequential_file.h"

namespace hj5 {
namespace {

Status SystemFailure(const char* step, int error) {
  return Status::Failure(
      -1, std::string(step) + ": " + std::generic_category().message(error));
}

class PosixFile final : public SequentialFile {
 public:
  PosixFile(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  ~PosixFile() override { ::close(fd_); }

  Status Read(char* buffer, std::size_t size, std::size_t* got) override {
    *got = 0;
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, size);
      if (n >= 0) {
        *got = static_cast<std::size_t>(n);
        return Status();
      }
      if (errno != EINTR) return SystemFailure("read", errno);
    }
  }

  std::uint64_t Size() const override { return size_; }

 private:
  const int fd_;
  const std::uint64_t size_;
};

}  // namespace

Status OpenSequentialFile(const std::string& path,
                          std::unique_ptr<SequentialFile>* file, FileSharing) {
  file->reset();
  // O_NONBLOCK: opening a FIFO does not wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return SystemFailure("open", errno);
  struct stat info;
  if (::fstat(fd, &info) != 0) {
    const int error = errno;
    ::close(fd);
    return SystemFailure("fstat", error);
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    return Status::Failure(-1, "not a regular file");
  }
  *file =
      std::make_unique<PosixFile>(fd, static_cast<std::uint64_t>(info.st_size));
  return Status();
}

}  // namespace hj5
