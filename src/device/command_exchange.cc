#include "device/command_exchange.h"

#include <cctype>

#include "device/commands.h"
#include "device/error_table.h"
#include "device/report.h"

namespace hj5 {
namespace {

constexpr std::string_view kToken = "HJ5_Ret";
constexpr std::string_view kTokenOpen = "HJ5_Ret(";
constexpr std::size_t kLastTokenOffset = 1000;
constexpr std::size_t kMaxTokenTail = 12;

// Reads a decimal number as "%d" does: leading white space, an optional
// sign, at least one digit. The tail is at most 12 characters long, so the
// value always fits.
bool ReadNumber(std::string_view text, int* value) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size() || !std::isdigit(static_cast<unsigned char>(text[i])))
    return false;
  long number = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]));
       ++i)
    number = number * 10 + (text[i] - '0');
  *value = static_cast<int>(negative ? -number : number);
  return true;
}

}  // namespace

int SendCommand(const DeviceLink& link, std::string_view body,
                std::string* reply) {
  const std::string request = ComposeRequest(body);
  int code =
      link.transport.Exchange(link.session.address, link.session.http_port,
                              request, reply, link.limit_seconds);
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
  if (!tail.starts_with(kTokenOpen)) return kNoToken;
  int value = 0;
  if (!ReadNumber(tail.substr(kTokenOpen.size()), &value)) return kNoToken;
  return value;
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

int CommandExchange(const DeviceLink& link, std::string_view body, int report) {
  std::string reply;
  int code = SendCommand(link, body, &reply);
  std::string failure;
  if (code != 0) {
    failure = CommunicationErrorText(code);
  } else {
    failure = ReplyFailureText(ReplyCode(reply));
    if (failure.empty()) return 0;
  }
  if (report == 1) ReportError(link.form, failure);
  return -1;
}

}  // namespace hj5
