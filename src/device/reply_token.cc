#include "device/reply_token.h"

#include "device/decimal.h"

namespace hj5 {
namespace {

constexpr std::string_view kTokenOpen = "HJ5_Ret(";

bool IsLineFiller(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

std::optional<ReplyToken> ParseReplyToken(std::string_view at) {
  if (!at.starts_with(kTokenOpen)) return std::nullopt;
  const std::optional<LeadingNumber> number =
      ReadLeadingNumber(at.substr(kTokenOpen.size()));
  if (!number) return std::nullopt;
  ReplyToken token;
  token.code = static_cast<int>(number->value);
  token.length = kTokenOpen.size() + number->length;
  token.closed = token.length < at.size() && at[token.length] == ')';
  if (token.closed) ++token.length;
  return token;
}

// The number of a token holds no 'H', so a token that ends the text starts
// at the last "HJ5_Ret(" in it.
bool EndsWithClosingToken(std::string_view held) {
  while (!held.empty() && IsLineFiller(held.back())) held.remove_suffix(1);
  const std::size_t start = held.rfind(kTokenOpen);
  if (start == std::string_view::npos) return false;
  const std::optional<ReplyToken> token = ParseReplyToken(held.substr(start));
  return token && token->closed && start + token->length == held.size();
}

}  // namespace hj5
