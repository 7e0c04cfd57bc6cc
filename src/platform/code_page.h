#ifndef HJ5_PLATFORM_CODE_PAGE_H_
#define HJ5_PLATFORM_CODE_PAGE_H_

#include <optional>
#include <string>
#include <string_view>

namespace hj5 {

// Windows only: what the device gets, in the ANSI code page, and UTF-8 for
// what stays on this machine; the form and hj5-update.exe share them.

// The bytes the device gets for `text` (UTF-16: a field of the Windows form,
// an argument of hj5-update.exe) in the ANSI code page `code_page` (GetACP()
// in the product; 1252, 932, ...); a double-byte character gives two bytes.
// nullopt when a character has no form of its own in that code page: it is
// never replaced, neither by "?" nor by a look-alike ("ā" is not sent as
// "a").
std::optional<std::string> ToCodePage(std::wstring_view text,
                                      unsigned code_page);

// `bytes` of the ANSI code page `code_page` as UTF-16, for showing them; a
// byte with no character is shown as the code page says.
std::wstring FromCodePage(std::string_view bytes, unsigned code_page);

// UTF-8 and UTF-16, for what stays on this machine (local paths). Bytes
// that are no UTF-8 give an empty text.
std::string Utf8Of(std::wstring_view text);
std::wstring WideOfUtf8(std::string_view utf8);

}  // namespace hj5

#endif  // HJ5_PLATFORM_CODE_PAGE_H_
