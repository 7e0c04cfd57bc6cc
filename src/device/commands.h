#ifndef HJ5_DEVICE_COMMANDS_H_
#define HJ5_DEVICE_COMMANDS_H_

#include <string>
#include <string_view>

#include "device/device_session.h"

namespace hj5 {

// The commands the tool sends to the device.
enum class Command {
  kQueryDevice,        // MODE=4: the device's parameters
  kFtpOn,              // svr_ftp_port := 21
  kMarkForUpdate,      // user9 := UPDATE
  kRestartDevice,      // MODE=3 ACT=1
  kModeOne,            // MODE=1 ACT=1, after the first restart
  kFtpOff,             // svr_ftp_port := 0
  kRestoreDeviceCode,  // user9 := the device code
  kProbe,              // "\r\n": is the device back?
};

// The command body: "ID=..&PW=..&MODE=..&ACT=..&CODE=..&DATA=..", the values
// inserted as typed, without any escaping. The probe is "\r\n" alone.
std::string CommandBody(Command command, const DeviceSession& session);

// The whole request around `body`: "POST /system.wcr  HTTP/1.1" (two
// spaces), Content-Length in bytes, Connection and Cache-Control, a blank
// line and the body. No Host, no Content-Type.
std::string ComposeRequest(std::string_view body);

}  // namespace hj5

#endif  // HJ5_DEVICE_COMMANDS_H_
