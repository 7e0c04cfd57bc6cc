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

int IdentityCheck(const DeviceLink& link) {
  std::string reply;
  const std::string body = CommandBody(Command::kQueryDevice, link.session);
  int code = SendCommand(link, body, &reply);
  if (code != 0) {
    ReportError(link.form, CommunicationErrorText(code));
    return -1;
  }
  const int reply_code = ReplyCode(reply);
  if (IsIdentityFailure(reply_code)) {
    ReportError(link.form, ReplyFailureText(reply_code));
    return -1;
  }
  if (Contains(reply, link.session.device_code) || Contains(reply, "UPDATE"))
    return 0;
  ReportError(link.form, "Device Code Error.");
  return -1;
}

}  // namespace hj5
