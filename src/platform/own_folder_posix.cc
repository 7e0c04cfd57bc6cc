// A user's own folder through POSIX calls, every file reached from the
// folder's descriptor.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/file_writes.h"
#include "platform/own_folder.h"

namespace hj5 {
namespace {

Status Failed(int code, const std::string& what, const std::string& why) {
  return Status::Failure(code, what + ": " + why);
}

Status SystemFailed(const std::string& what, int error) {
  const int code = error == ENOENT  ? folder_code::kNotFound
                   : error == ELOOP ? folder_code::kUnsafe
                                    : folder_code::kSystem;
  if (error == ELOOP) return Failed(code, what, "is a symbolic link");
  return Failed(code, what, std::generic_category().message(error));
}

// A descriptor closed with its owner.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// "" when the folder open as `fd` may hold a run for this user.
std::string UnsafeFolder(int fd, FolderUse use) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return std::generic_category().message(errno);
  if (!S_ISDIR(info.st_mode)) return "is not a folder";
  if (use == FolderUse::kRead) return "";
  if (info.st_uid != ::geteuid()) return "belongs to another user";
  if (info.st_mode & (S_IWGRP | S_IWOTH))
    return "is writable by group or others (chmod 700 it)";
  return "";
}

class PosixAppendFile final : public AppendFile {
 public:
  explicit PosixAppendFile(int fd) : fd_(fd) {}
  ~PosixAppendFile() override { ::close(fd_); }

  Status Append(std::string_view bytes) override {
    if (const int error = WriteAll(fd_, bytes); error != 0)
      return SystemFailed("write", error);
    return Status();
  }

  Status Sync() override {
    if (::fdatasync(fd_) != 0) return SystemFailed("sync", errno);
    return Status();
  }

 private:
  const int fd_;
};

class PosixFolder final : public OwnFolder {
 public:
  PosixFolder(int fd, FolderUse use) : fd_(fd), use_(use) {}
  ~PosixFolder() override { ::close(fd_); }

  Status Lock() override {
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return Status();
    if (errno == EWOULDBLOCK)
      return Status::Failure(folder_code::kBusy, "another run holds it");
    return SystemFailed("lock", errno);
  }

  Status Read(const std::string& name, std::size_t limit,
              std::string* text) override {
    text->clear();
    Fd fd(::openat(fd_, name.c_str(),
                   O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) return SystemFailed(name, errno);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return SystemFailed(name, errno);
    if (!S_ISREG(info.st_mode))
      return Failed(folder_code::kUnsafe, name, "is not a regular file");
    if (static_cast<std::uint64_t>(info.st_size) > limit) {
      return Failed(folder_code::kTooLarge, name,
                    "holds more than " + std::to_string(limit) + " bytes");
    }
    char chunk[65536];
    for (;;) {
      const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return SystemFailed(name, errno);
      if (n == 0) return Status();
      text->append(chunk, static_cast<std::size_t>(n));
      if (text->size() > limit) {
        return Failed(folder_code::kTooLarge, name,
                      "holds more than " + std::to_string(limit) + " bytes");
      }
    }
  }

  Status Write(const std::string& name, std::string_view text) override {
    const std::string part = "." + name + "." + UniqueSuffix() + ".part";
    Fd fd(::openat(fd_, part.c_str(),
                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() < 0) return SystemFailed(name, errno);
    PosixAppendFile file(fd.release());
    Status written = file.Append(text);
    if (written.ok()) written = file.Sync();
    if (written.ok() && ::renameat(fd_, part.c_str(), fd_, name.c_str()) != 0)
      written = SystemFailed(name, errno);
    if (!written.ok()) {
      ::unlinkat(fd_, part.c_str(), 0);
      return Failed(written.code(), name, written.cause());
    }
    return Status();
  }

  Status OpenAppend(const std::string& name,
                    std::unique_ptr<AppendFile>* file) override {
    Fd fd(::openat(
        fd_, name.c_str(),
        O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
        0600));
    if (fd.get() < 0) return SystemFailed(name, errno);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return SystemFailed(name, errno);
    if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid() ||
        info.st_nlink != 1) {
      return Failed(folder_code::kUnsafe, name,
                    "is not a regular file of this user's own");
    }
    // A folder written before files were kept for their owner alone.
    if ((info.st_mode & 077) != 0 && ::fchmod(fd.get(), 0600) != 0)
      return SystemFailed(name, errno);
    *file = std::make_unique<PosixAppendFile>(fd.release());
    return Status();
  }

  Status Sub(const std::string& name,
             std::unique_ptr<OwnFolder>* folder) override {
    if (use_ == FolderUse::kWrite && ::mkdirat(fd_, name.c_str(), 0700) != 0 &&
        errno != EEXIST)
      return SystemFailed(name, errno);
    Fd fd(::openat(fd_, name.c_str(),
                   O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0) return SystemFailed(name, errno);
    if (std::string unsafe = UnsafeFolder(fd.get(), use_); !unsafe.empty())
      return Failed(folder_code::kUnsafe, name, unsafe);
    *folder = std::make_unique<PosixFolder>(fd.release(), use_);
    return Status();
  }

  Status SyncNames() override {
    if (::fsync(fd_) != 0) return SystemFailed("sync", errno);
    return Status();
  }

 private:
  const int fd_;
  const FolderUse use_;
};

// A symbolic link is followed only when it is the user's own (a link
// planted in a shared folder such as /tmp is another's).
std::string ForeignLink(const std::string& path) {
  struct stat link {};
  if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return "";
  if (link.st_uid == ::geteuid()) return "";
  return "is a symbolic link of another user";
}

}  // namespace

Status OwnFolder::Open(const std::string& path, FolderUse use,
                       std::unique_ptr<OwnFolder>* folder) {
  folder->reset();
  if (use == FolderUse::kWrite) {
    const std::filesystem::path parent =
        std::filesystem::path(path).parent_path();
    std::error_code ignored;
    if (!parent.empty()) std::filesystem::create_directories(parent, ignored);
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
      return SystemFailed(path, errno);
  }
  if (std::string foreign = ForeignLink(path); !foreign.empty())
    return Failed(folder_code::kUnsafe, path, foreign);
  Fd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0) return SystemFailed(path, errno);
  if (std::string unsafe = UnsafeFolder(fd.get(), use); !unsafe.empty()) {
    if (unsafe.ends_with("(chmod 700 it)"))
      unsafe.replace(unsafe.size() - 3, 2, path);
    return Failed(folder_code::kUnsafe, path, unsafe);
  }
  *folder = std::make_unique<PosixFolder>(fd.release(), use);
  return Status();
}

}  // namespace hj5
