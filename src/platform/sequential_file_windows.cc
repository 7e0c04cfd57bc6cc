// Local files through Win32 calls, the path as UTF-16.

#include <windows.h>

#include <string>

#include "platform/sequential_file.h"

namespace hj5 {
namespace {

// "<step>: <the system's text for the last error>" as a failure, in UTF-8
// like every cause (the ANSI text of a Japanese system would be no UTF-8).
Status SystemFailure(const char* step) {
  const DWORD error = GetLastError();
  wchar_t wide[256] = {};
  const DWORD wide_length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, 0, wide, 256, nullptr);
  char text[1024] = {};
  const int length =
      wide_length == 0
          ? 0
          : WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(wide_length),
                                text, sizeof text, nullptr, nullptr);
  std::string message(text, length > 0 ? static_cast<std::size_t>(length) : 0);
  while (!message.empty() &&
         (message.back() == '\n' || message.back() == '\r' ||
          message.back() == ' ' || message.back() == '.'))
    message.pop_back();
  if (message.empty()) message = "error " + std::to_string(error);
  return Status::Failure(-1, std::string(step) + ": " + message);
}

// `utf8` as UTF-16; false when it is no valid UTF-8.
bool Widen(const std::string& utf8, std::wstring* wide) {
  if (utf8.empty()) return true;
  const int length =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                          static_cast<int>(utf8.size()), nullptr, 0);
  if (length <= 0) return false;
  wide->resize(static_cast<std::size_t>(length));
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                             static_cast<int>(utf8.size()), wide->data(),
                             length) == length;
}

class WindowsFile final : public SequentialFile {
 public:
  WindowsFile(HANDLE handle, std::uint64_t size)
      : handle_(handle), size_(size) {}
  ~WindowsFile() override { CloseHandle(handle_); }

  Status Read(char* buffer, std::size_t size, std::size_t* got) override {
    DWORD read = 0;
    const DWORD want =
        size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    *got = 0;
    if (!ReadFile(handle_, buffer, want, &read, nullptr)) {
      return SystemFailure("read");
    }
    *got = read;
    return Status();
  }

  std::uint64_t Size() const override { return size_; }

 private:
  const HANDLE handle_;
  const std::uint64_t size_;
};

}  // namespace

Status OpenSequentialFile(const std::string& path,
                          std::unique_ptr<SequentialFile>* file,
                          FileSharing sharing) {
  file->reset();
  std::wstring wide;
  if (!Widen(path, &wide)) {
    return Status::Failure(-1, "open: the path is no UTF-8");
  }
  // Without sharing the open fails while another program holds the file
  // open; shared with readers, a fleet's uploads read it side by side.
  const DWORD share = sharing == FileSharing::kReaders ? FILE_SHARE_READ : 0;
  const HANDLE handle =
      CreateFileW(wide.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return SystemFailure("open");
  LARGE_INTEGER size{};
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &size)) {
    CloseHandle(handle);
    return Status::Failure(-1, "not a regular file");
  }
  *file = std::make_unique<WindowsFile>(
      handle, static_cast<std::uint64_t>(size.QuadPart));
  return Status();
}

}  // namespace hj5
