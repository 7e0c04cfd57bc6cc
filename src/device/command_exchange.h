#ifndef HJ5_DEVICE_COMMAND_EXCHANGE_H_
#define HJ5_DEVICE_COMMAND_EXCHANGE_H_

#include <optional>
#include <string>
#include <string_view>

#include "device/device_link.h"
#include "platform/status.h"

namespace hj5 {

// Wraps `body` in the device's request and exchanges it. On success
// `*reply` holds the reply as text (cut at its first NUL byte). A failure
// is the transport's, told as "Communication Error(<message of the HTTP
// client table>)".
Status SendCommand(const DeviceLink& link, std::string_view body,
                   std::string* reply);

// "Communication Error(<message of the HTTP client table>)".
std::string CommunicationErrorText(int transport_code);

// The number of the token "HJ5_Ret(%d)" that closes the reply; nullopt for
// no usable token: none, one starting after offset 1,000, more than 12
// characters from the token's start to the end, or no number after
// "HJ5_Ret(".
std::optional<int> ReplyCode(std::string_view reply);

// The operator's text for a failing reply code (no usable token is a
// script failure), or "" for a success (0, positive values and -1).
std::string ReplyFailureText(std::optional<int> reply_code);

// A maintainer's account of a reply: its code, or why it has none, with the
// reply's end quoted (control bytes escaped), `password` masked as "***"
// before the end is cut from it.
std::string ReplyCause(std::string_view reply, const std::string& password);

// Sends one command and judges the reply. A failure carries the operator's
// text ("Login ID Error!!", "Communication Error(...)", ...), the reply
// code or the transport's code, and the cause. When given, `*refused` tells
// whether the device said it did not carry the command out: its reply
// closed with a failing code (no reply, or one without a token, leaves
// that open). Tells nobody: the caller reports or stays silent. Worker
// thread.
Status CommandExchange(const DeviceLink& link, std::string_view body,
                       bool* refused = nullptr);

}  // namespace hj5

#endif  // HJ5_DEVICE_COMMAND_EXCHANGE_H_
