// Local files through Win32 calls, the path as UTF-16.

#include <windows.h>

#include <string>

#include "platform/sequential_file.h"

namespace hj5 {
namespace {

// "<step>: <the system's text for the last error>".
std::string SystemText(const char* step) {
  const DWORD error = GetLastError();
  char text[256] = {};
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, 0, text, sizeof text, nullptr);
  std::string message(text, length);
  while (!message.empty() &&
         (message.back() == '\n' || message.back() == '\r' ||
          message.back() == ' ' || message.back() == '.'))
    message.pop_back();
  if (message.empty()) message = "error " + std::to_string(error);
  return std::string(step) + ": " + message;
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
  explicit WindowsFile(HANDLE handle) : handle_(handle) {}
  ~WindowsFile() override { CloseHandle(handle_); }

  std::int64_t Read(char* buffer, std::size_t size,
                    std::string* cause) override {
    DWORD got = 0;
    const DWORD want =
        size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    if (!ReadFile(handle_, buffer, want, &got, nullptr)) {
      *cause = SystemText("read");
      return -1;
    }
    return got;
  }

 private:
  const HANDLE handle_;
};

}  // namespace

std::unique_ptr<SequentialFile> OpenSequentialFile(const std::string& path,
                                                   std::string* cause) {
  std::wstring wide;
  if (!Widen(path, &wide)) {
    *cause = "open: the path is no UTF-8";
    return nullptr;
  }
  // No sharing: the open fails while another program holds the file open.
  const HANDLE handle =
      CreateFileW(wide.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *cause = SystemText("open");
    return nullptr;
  }
  auto file = std::make_unique<WindowsFile>(handle);
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    *cause = "not a regular file";
    return nullptr;
  }
  return file;
}

}  // namespace hj5
