#include "device/identity_check.h"

#include "device/commands.h"
#include "device/report.h"

namespace hj5 {
namespace {

// The identity check judges only the login and read failures itself; every
// other code goes on to the search for the device code.
bool IsIdentityFailure(int reply_code) {
  return reply_code == -2 || reply_code == -3 || reply_code == -4;
}

bool Contains(const std::string& text, const std::string& word) {
  return !word.empty() && text.find(word) != std::string::npos;
}

}  // namespace

int IdentityCheck(const UpdateContext& context) {
  std::string reply;
  const std::string body = CommandBody(Command::kQueryDevice, context.session);
  int code = SendCommand(context, body, &reply);
  if (code != 0) {
    ReportError(context, CommunicationErrorText(code),
                context.platform.transport.LastCause());
    return -1;
  }
  const int reply_code = ReplyCode(reply);
  if (IsIdentityFailure(reply_code)) {
    ReportError(context, ReplyFailureText(reply_code), ReplyCause(reply));
    return -1;
  }
  if (Contains(reply, context.session.device_code) || Contains(reply, "UPDATE"))
    return 0;
  ReportError(context, "Device Code Error.",
              "neither \"" + context.session.device_code +
                  "\" nor \"UPDATE\" in the reply; " + ReplyCause(reply));
  return -1;
}

}  // namespace hj5
