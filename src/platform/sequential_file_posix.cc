// Local files through POSIX calls.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/sequential_file.h"

namespace hj5 {
namespace {

std::string SystemText(const char* step, int error) {
  return std::string(step) + ": " + std::generic_category().message(error);
}

class PosixFile final : public SequentialFile {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override { ::close(fd_); }

  std::int64_t Read(char* buffer, std::size_t size,
                    std::string* cause) override {
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, size);
      if (n >= 0) return n;
      if (errno == EINTR) continue;
      *cause = SystemText("read", errno);
      return -1;
    }
  }

 private:
  const int fd_;
};

}  // namespace

std::unique_ptr<SequentialFile> OpenSequentialFile(const std::string& path,
                                                   std::string* cause) {
  // O_NONBLOCK: opening a FIFO does not wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *cause = SystemText("open", errno);
    return nullptr;
  }
  auto file = std::make_unique<PosixFile>(fd);
  struct stat info;
  if (::fstat(fd, &info) != 0) {
    *cause = SystemText("fstat", errno);
    return nullptr;
  }
  if (!S_ISREG(info.st_mode)) {
    *cause = "not a regular file";
    return nullptr;
  }
  return file;
}

}  // namespace hj5
