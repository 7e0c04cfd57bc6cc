#include "device/identity_check.h"

#include "device/command_exchange.h"
#include "device/commands.h"
#include "device/failure_codes.h"

namespace hj5 {
namespace {

// The identity check judges only the login and read failures itself; every
// other code goes on to the search for the device code.
bool IsIdentityFailure(std::optional<int> reply_code) {
  return reply_code == -2 || reply_code == -3 || reply_code == -4;
}

bool Contains(const std::string& text, const std::string& word) {
  return !word.empty() && text.find(word) != std::string::npos;
}

}  // namespace

Status IdentityCheck(const DeviceLink& link, bool* in_update) {
  if (in_update) *in_update = false;
  std::string reply;
  const std::string body = CommandBody(Command::kQueryDevice, link.session);
  if (Status sent = SendCommand(link, body, &reply); !sent.ok()) return sent;
  const std::optional<int> reply_code = ReplyCode(reply);
  if (IsIdentityFailure(reply_code)) {
    return Status::Failure(*reply_code, ReplyFailureText(reply_code),
                           ReplyCause(reply, link.session.password));
  }
  const std::string& code = link.session.device_code;
  if (Contains(reply, code)) return Status();
  if (Contains(reply, "UPDATE")) {
    if (in_update) *in_update = true;
    return Status();
  }
  return Status::Failure(failure_code::kDeviceCode, "Device Code Error.",
                         "neither \"" + code +
                             "\" nor \"UPDATE\" in the reply; " +
                             ReplyCause(reply, link.session.password));
}

}  // namespace hj5
