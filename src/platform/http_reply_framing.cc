#include "platform/http_reply_framing.h"

#include <cstddef>
#include <limits>

namespace hj5 {
namespace {

constexpr std::string_view kHeaderEnd = "\r\n\r\n";
constexpr std::string_view kLengthName = "content-length";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (Lower(text[i]) != prefix[i]) return false;
  }
  return true;
}

std::string_view SkipBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  return text;
}

// The value of `line` when it is a Content-Length header; -1 otherwise. A
// value too big for the type saturates (such a reply is cut by capacity).
long long ContentLengthOf(std::string_view line) {
  if (!StartsWithNoCase(line, kLengthName)) return -1;
  line = SkipBlanks(line.substr(kLengthName.size()));
  if (line.empty() || line.front() != ':') return -1;
  line = SkipBlanks(line.substr(1));
  if (line.empty() || !IsDigit(line.front())) return -1;
  constexpr long long kMax = std::numeric_limits<long long>::max() / 10 - 9;
  long long value = 0;
  while (!line.empty() && IsDigit(line.front())) {
    if (value < kMax) value = value * 10 + (line.front() - '0');
    line.remove_prefix(1);
  }
  return SkipBlanks(line).empty() ? value : -1;
}

}  // namespace

LengthFraming FramingByContentLength(std::string_view held) {
  const std::size_t end = held.find(kHeaderEnd);
  if (end == std::string_view::npos) return LengthFraming::kNone;
  const std::size_t body = held.size() - (end + kHeaderEnd.size());
  std::string_view headers = held.substr(0, end + 2);  // keeps the last CRLF
  while (!headers.empty()) {
    const std::size_t eol = headers.find("\r\n");
    const long long length = ContentLengthOf(headers.substr(0, eol));
    if (length >= 0) {
      return static_cast<unsigned long long>(length) <= body
                 ? LengthFraming::kMet
                 : LengthFraming::kShort;
    }
    headers.remove_prefix(eol + 2);
  }
  return LengthFraming::kNone;
}

}  // namespace hj5
