#ifndef HJ5_DEVICE_DECIMAL_H_
#define HJ5_DEVICE_DECIMAL_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace hj5 {

// A decimal number read from the start of a text.
struct LeadingNumber {
  // The number modulo 2^32: its low bits are those of the true value, so a
  // negative number wraps ("-1" gives 0xFFFFFFFF, static_cast<int> -1) and a
  // port keeps its low 16 bits (static_cast<std::uint16_t>).
  std::uint32_t value = 0;
  // How many characters of the text the number took, its leading white
  // space and sign included.
  std::size_t length = 0;
};

// Reads a number at the start of `text` as atoi and scanf's "%d" do: white
// space (' ', '\t', '\n', '\v', '\f', '\r'), an optional '+' or '-', then
// one or more digits; it ends before the first character that is no digit.
// Never overflows. nullopt when no digit follows the white space and sign.
// Pure; any thread.
std::optional<LeadingNumber> ReadLeadingNumber(std::string_view text);

}  // namespace hj5

#endif  // HJ5_DEVICE_DECIMAL_H_
