// A private copy on Windows: a temporary file shared with nobody and
// deleted when its handle closes.

#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/file_writes.h"
#include "platform/spill_file.h"

namespace hj5 {
namespace {

Status SystemFailure(const char* step) {
  return Status::Failure(
      -1, std::string(step) + ": error " + std::to_string(GetLastError()));
}

class WindowsSpillFile final : public SpillFile {
 public:
  explicit WindowsSpillFile(HANDLE handle) : handle_(handle) {}
  ~WindowsSpillFile() override { CloseHandle(handle_); }

  Status Append(std::string_view bytes) override {
    if (!WriteAll(handle_, bytes)) return SystemFailure("write");
    size_ += bytes.size();
    return Status();
  }

  std::uint64_t Size() const override { return size_; }

  // A read at an offset of its own: the reads of several uploads never
  // move each other's place.
  Status ReadAt(std::uint64_t offset, char* buffer, std::size_t size,
                std::size_t* got) const override {
    *got = 0;
    if (offset >= size_) return Status();
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    const DWORD wanted =
        static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!ReadFile(handle_, buffer, wanted, &read, &at) &&
        GetLastError() != ERROR_HANDLE_EOF)
      return SystemFailure("read");
    *got = read;
    return Status();
  }

 private:
  const HANDLE handle_;
  std::uint64_t size_ = 0;
};

}  // namespace

Status SpillFile::Create(std::unique_ptr<SpillFile>* file) {
  wchar_t folder[MAX_PATH + 1];
  wchar_t name[MAX_PATH + 1];
  if (!GetTempPathW(MAX_PATH + 1, folder) ||
      !GetTempFileNameW(folder, L"hj5", 0, name))
    return SystemFailure("temporary file");
  const HANDLE handle = CreateFileW(
      name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const Status failed = SystemFailure("temporary file");
    DeleteFileW(name);
    return failed;
  }
  *file = std::make_unique<WindowsSpillFile>(handle);
  return Status();
}

}  // namespace hj5
