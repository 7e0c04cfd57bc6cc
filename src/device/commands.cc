#include "device/commands.h"

namespace hj5 {
namespace {

std::string Body(const DeviceSession& session, std::string_view rest) {
  std::string body = "ID=";
  body += session.login_id;
  body += "&PW=";
  body += session.password;
  body += '&';
  body += rest;
  return body;
}

}  // namespace

std::string CommandBody(Command command, const DeviceSession& session) {
  switch (command) {
    case Command::kQueryDevice:
      return Body(session, "MODE=4&ACT=&CODE=&DATA=");
    case Command::kFtpOn:
      return Body(session, "MODE=2&ACT=21&CODE=svr_ftp_port&DATA=21");
    case Command::kMarkForUpdate:
      return Body(session, "MODE=2&ACT=21&CODE=user9&DATA=UPDATE");
    case Command::kRestartDevice:
      return Body(session, "MODE=3&ACT=1&CODE=&DATA=");
    case Command::kModeOne:
      return Body(session, "MODE=1&ACT=1&CODE=&DATA=");
    case Command::kFtpOff:
      return Body(session, "MODE=2&ACT=21&CODE=svr_ftp_port&DATA=0");
    case Command::kRestoreDeviceCode:
      return Body(session,
                  "MODE=2&ACT=21&CODE=user9&DATA=" + session.device_code);
    case Command::kProbe:
      return "\r\n";
  }
  return {};
}

std::string ComposeRequest(std::string_view body) {
  std::string request = "POST /system.wcr  HTTP/1.1\r\n";
  request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  request += "Connection: Keep-Alive\r\n";
  request += "Cache-Control: no-cache\r\n\r\n";
  request += body;
  return request;
}

}  // namespace hj5
