#include "platform/code_page.h"

#include <windows.h>

#include <climits>

namespace hj5 {

std::optional<std::string> ToCodePage(std::wstring_view text,
                                      unsigned code_page) {
  if (text.empty()) return std::string();
  if (text.size() > INT_MAX / 2) return std::nullopt;
  const int wide = static_cast<int>(text.size());
  // No best fit: a character without its own form is refused, not
  // approximated; `used_default` tells that one was met.
  const DWORD flags = WC_NO_BEST_FIT_CHARS;
  BOOL used_default = FALSE;
  const int length = WideCharToMultiByte(code_page, flags, text.data(), wide,
                                         nullptr, 0, nullptr, &used_default);
  if (length <= 0 || used_default) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(length), '\0');
  if (WideCharToMultiByte(code_page, flags, text.data(), wide, bytes.data(),
                          length, nullptr, &used_default) != length ||
      used_default) {
    return std::nullopt;
  }
  // The bytes must read back as the same text: no mapping may have folded
  // one character into another.
  if (FromCodePage(bytes, code_page) != text) return std::nullopt;
  return bytes;
}

std::wstring FromCodePage(std::string_view bytes, unsigned code_page) {
  if (bytes.empty() || bytes.size() > INT_MAX) return std::wstring();
  const int narrow = static_cast<int>(bytes.size());
  const int length =
      MultiByteToWideChar(code_page, 0, bytes.data(), narrow, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring text(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(code_page, 0, bytes.data(), narrow, text.data(), length);
  return text;
}

std::string Utf8Of(std::wstring_view text) {
  if (text.empty() || text.size() > INT_MAX / 4) return std::string();
  const int wide = static_cast<int>(text.size());
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, nullptr,
                                         0, nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string bytes(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, bytes.data(), length,
                      nullptr, nullptr);
  return bytes;
}

std::wstring WideOfUtf8(std::string_view utf8) {
  if (utf8.empty() || utf8.size() > INT_MAX) return std::wstring();
  const int narrow = static_cast<int>(utf8.size());
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS,
                                         utf8.data(), narrow, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring text(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), narrow,
                      text.data(), length);
  return text;
}

}  // namespace hj5
