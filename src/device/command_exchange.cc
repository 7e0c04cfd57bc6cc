#include "device/command_exchange.h"

#include <cstdio>
#include <utility>

#include "device/commands.h"
#include "device/error_table.h"
#include "device/reply_token.h"
#include "device/report.h"

namespace hj5 {
namespace {

constexpr std::string_view kToken = "HJ5_Ret";
constexpr std::size_t kLastTokenOffset = 1000;
constexpr std::size_t kMaxTokenTail = 12;

}  // namespace

int SendCommand(const UpdateContext& context, std::string_view body,
                std::string* reply) {
  const std::string request = ComposeRequest(body);
  const Platform& platform = context.platform;
  int code = platform.transport.Exchange(context.session.address,
                                         context.session.http_port, request,
                                         reply, platform.limit_seconds);
  // The reply is used as text: it ends at its first NUL byte.
  std::size_t nul = reply->find('\0');
  if (nul != std::string::npos) reply->resize(nul);
  return code;
}

std::string CommunicationErrorText(int transport_code) {
  return "Communication Error(" + HttpErrorText(transport_code) + ")";
}

int ReplyCode(std::string_view reply) {
  std::size_t start = reply.find(kToken);
  if (start == std::string_view::npos || start > kLastTokenOffset)
    return kNoToken;
  std::string_view tail = reply.substr(start);
  if (tail.size() > kMaxTokenTail) return kNoToken;
  // As sscanf(tail, "HJ5_Ret(%d)") reads it: the ')' is not needed.
  const std::optional<ReplyToken> token = ParseReplyToken(tail);
  return token ? token->code : kNoToken;
}

std::string ReplyFailureText(int reply_code) {
  switch (reply_code) {
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
  return reply_code >= 0 ? "" : "Script Returns Error!!";
}

std::string ReplyCause(std::string_view reply) {
  const int code = ReplyCode(reply);
  std::string cause = code == kNoToken ? "no closing token"
                                       : "reply code " + std::to_string(code);
  constexpr std::size_t kQuoted = 24;
  const std::string_view end =
      reply.substr(reply.size() > kQuoted ? reply.size() - kQuoted : 0);
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

CommandVerdict SendAndJudge(const UpdateContext& context,
                            std::string_view body) {
  std::string reply;
  int code = SendCommand(context, body, &reply);
  if (code != 0) {
    return {false, CommunicationErrorText(code),
            context.platform.transport.LastCause()};
  }
  std::string failure = ReplyFailureText(ReplyCode(reply));
  if (failure.empty()) return {true, "", ""};
  return {false, std::move(failure), ReplyCause(reply)};
}

int CommandExchange(const UpdateContext& context, std::string_view body,
                    int report) {
  CommandVerdict verdict = SendAndJudge(context, body);
  if (verdict.accepted) return 0;
  if (report == 1) ReportError(context, verdict.text, verdict.cause);
  return -1;
}

}  // namespace hj5
