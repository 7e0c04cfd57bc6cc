#include "device/decimal.h"

namespace hj5 {
namespace {

bool IsSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');  // \t \n \v \f \r
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<LeadingNumber> ReadLeadingNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size() || !IsDigit(text[i])) return std::nullopt;
  // Unsigned arithmetic wraps modulo 2^32, which keeps the low bits exact.
  std::uint32_t value = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    value = value * 10u + static_cast<std::uint32_t>(text[i] - '0');
  }
  return LeadingNumber{negative ? 0u - value : value, i};
}

}  // namespace hj5
