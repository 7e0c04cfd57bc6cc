#ifndef HJ5_DEVICE_COMMAND_EXCHANGE_H_
#define HJ5_DEVICE_COMMAND_EXCHANGE_H_

#include <string>
#include <string_view>

#include "device/update_context.h"

namespace hj5 {

// The value of ReplyCode() for a reply without a usable token.
inline constexpr int kNoToken = -10;

// Wraps `body` in the device's request and exchanges it. On success
// `*reply` holds the reply as text (cut at its first NUL byte). Returns the
// transport's result: 0, or a code of the HTTP client table.
int SendCommand(const UpdateContext& context, std::string_view body,
                std::string* reply);

// "Communication Error(<message of the HTTP client table>)".
std::string CommunicationErrorText(int transport_code);

// The number of the token "HJ5_Ret(%d)" that closes the reply, or kNoToken:
// no token, a token starting after offset 1,000, more than 12 characters
// from the token's start to the end, or no number after "HJ5_Ret(".
int ReplyCode(std::string_view reply);

// The operator's text for a failing reply code, or "" for a success (0,
// positive values and -1).
std::string ReplyFailureText(int reply_code);

// A maintainer's account of a reply: its code, or why it has none, with the
// reply's end quoted (control bytes escaped).
std::string ReplyCause(std::string_view reply);

// What became of one command: accepted, or the operator's text for the
// failure and its cause.
struct CommandVerdict {
  bool accepted = false;
  std::string text;   // empty when accepted
  std::string cause;  // empty when accepted
};

// Sends one command and judges the reply; tells nobody.
CommandVerdict SendAndJudge(const UpdateContext& context,
                            std::string_view body);

// Sends one command. Returns 0 when the device accepted it, -1 otherwise.
// Only `report` == 1 makes a failure reported (through ReportError, its
// cause into the context's log); any other value keeps it silent.
int CommandExchange(const UpdateContext& context, std::string_view body,
                    int report);

}  // namespace hj5

#endif  // HJ5_DEVICE_COMMAND_EXCHANGE_H_
