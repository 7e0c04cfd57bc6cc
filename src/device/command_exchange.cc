#include "device/command_exchange.h"

#include <cstdio>
#include <utility>

#include "device/commands.h"
#include "device/error_table.h"
#include "device/failure_codes.h"
#include "device/reply_token.h"
#include "platform/text_checks.h"

namespace hj5 {
namespace {

constexpr std::string_view kToken = "HJ5_Ret";
constexpr std::size_t kLastTokenOffset = 1000;
constexpr std::size_t kMaxTokenTail = 12;

}  // namespace

Status SendCommand(const DeviceLink& link, std::string_view body,
                   std::string* reply) {
  const std::string request = ComposeRequest(body);
  const Platform& platform = link.platform;
  const Status sent =
      platform.transport.Exchange(link.session.address, link.session.http_port,
                                  request, reply, platform.limit_seconds);
  if (!sent.ok()) return sent.Told(CommunicationErrorText(sent.code()));
  // The reply is used as text: it ends at its first NUL byte.
  std::size_t nul = reply->find('\0');
  if (nul != std::string::npos) reply->resize(nul);
  return sent;
}

std::string CommunicationErrorText(int transport_code) {
  return "Communication Error(" + HttpErrorText(transport_code) + ")";
}

std::optional<int> ReplyCode(std::string_view reply) {
  std::size_t start = reply.find(kToken);
  if (start == std::string_view::npos || start > kLastTokenOffset)
    return std::nullopt;
  std::string_view tail = reply.substr(start);
  if (tail.size() > kMaxTokenTail) return std::nullopt;
  // As sscanf(tail, "HJ5_Ret(%d)") reads it: the ')' is not needed.
  const std::optional<ReplyToken> token = ParseReplyToken(tail);
  if (!token) return std::nullopt;
  return token->code;
}

std::string ReplyFailureText(std::optional<int> reply_code) {
  if (!reply_code) return "Script Returns Error!!";
  switch (*reply_code) {
    case -1:
      return "";
    case -2:
      return "Login ID Error!!";
    case -3:
      return "Login Password Error!!";
    case -4:
      return "Script Error!!(gethjcparam)";
    case -5:
      return "Script Error!!(sethjcparam)";
  }
  return *reply_code >= 0 ? "" : "Script Returns Error!!";
}

std::string ReplyCause(std::string_view reply, const std::string& password) {
  const std::optional<int> code = ReplyCode(reply);
  std::string cause =
      code ? "reply code " + std::to_string(*code) : "no closing token";
  constexpr std::size_t kQuoted = 24;
  const std::string masked = Redacted(std::string(reply), password);
  const std::string_view end = std::string_view(masked).substr(
      masked.size() > kQuoted ? masked.size() - kQuoted : 0);
  cause += "; reply ends \"";
  for (unsigned char c : end) {
    if (c == '\r') {
      cause += "\\r";
    } else if (c == '\n') {
      cause += "\\n";
    } else if (c < 0x20 || c >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      cause += hex;
    } else {
      cause += static_cast<char>(c);
    }
  }
  return cause + "\"";
}

// A failing reply's code is its reply code; one without a usable token has
// a code of its own.
Status CommandExchange(const DeviceLink& link, std::string_view body,
                       bool* refused) {
  if (refused) *refused = false;
  std::string reply;
  if (Status sent = SendCommand(link, body, &reply); !sent.ok()) return sent;
  const std::optional<int> code = ReplyCode(reply);
  std::string failure = ReplyFailureText(code);
  if (failure.empty()) return Status();
  if (refused) *refused = code.has_value();
  return Status::Failure(code.value_or(failure_code::kNoReplyCode),
                         std::move(failure),
                         ReplyCause(reply, link.session.password));
}

}  // namespace hj5
