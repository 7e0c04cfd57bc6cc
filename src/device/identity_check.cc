#include "device/identity_check.h"

#include "device/commands.h"
#include "device/report.h"

namespace hj5 {
namespace {

// The codes the identity check judges itself; every other code goes on to
// the search for the device code.
const char* IdentityFailureText(int reply_code) {
  switch (reply_code) {
    case -2:
      return "Login ID Error!!";
    case -3:
      return "Login Password Error!!";
    case -4:
      return "Script Error!!(gethjcparam)";
  }
  return nullptr;
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
  if (const char* failure = IdentityFailureText(ReplyCode(reply))) {
    ReportError(link.form, failure);
    return -1;
  }
  if (Contains(reply, link.session.device_code) || Contains(reply, "UPDATE"))
    return 0;
  ReportError(link.form, "Device Code Error.");
  return -1;
}

}  // namespace hj5
