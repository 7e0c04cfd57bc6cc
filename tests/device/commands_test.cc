#include "device/commands.h"

#include <gtest/gtest.h>

#include <cstring>

namespace hj5 {
namespace {

DeviceSession Session(std::string id, std::string pw) {
  DeviceSession session;
  session.login_id = std::move(id);
  session.password = std::move(pw);
  return session;
}

std::string Request(std::string_view body, std::size_t length) {
  return "POST /system.wcr  HTTP/1.1\r\n"
         "Content-Length: " +
         std::to_string(length) +
         "\r\n"
         "Connection: Keep-Alive\r\n"
         "Cache-Control: no-cache\r\n"
         "\r\n" +
         std::string(body);
}

struct CatalogueCase {
  Command command;
  const char* body;
};

TEST(CommandsTest, EveryCommandGoesOutByteForByte) {
  const DeviceSession session = Session("admin", "secret");
  const CatalogueCase cases[] = {
      {Command::kQueryDevice, "ID=admin&PW=secret&MODE=4&ACT=&CODE=&DATA="},
      {Command::kFtpOn,
       "ID=admin&PW=secret&MODE=2&ACT=21&CODE=svr_ftp_port&DATA=21"},
      {Command::kMarkForUpdate,
       "ID=admin&PW=secret&MODE=2&ACT=21&CODE=user9&DATA=UPDATE"},
      {Command::kRestartDevice, "ID=admin&PW=secret&MODE=3&ACT=1&CODE=&DATA="},
      {Command::kModeOne, "ID=admin&PW=secret&MODE=1&ACT=1&CODE=&DATA="},
      {Command::kFtpOff,
       "ID=admin&PW=secret&MODE=2&ACT=21&CODE=svr_ftp_port&DATA=0"},
      {Command::kRestoreDeviceCode,
       "ID=admin&PW=secret&MODE=2&ACT=21&CODE=user9&DATA=HJ5M"},
      {Command::kProbe, "\r\n"},
  };
  for (const CatalogueCase& c : cases) {
    const std::string body = CommandBody(c.command, session);
    EXPECT_EQ(body, c.body);
    EXPECT_EQ(ComposeRequest(body), Request(c.body, std::strlen(c.body)));
  }
}

TEST(CommandsTest, ProbeCarriesALengthLineForTwo) {
  const std::string request =
      ComposeRequest(CommandBody(Command::kProbe, Session("a", "b")));
  EXPECT_NE(request.find("\r\nContent-Length: 2\r\n"), std::string::npos);
  EXPECT_TRUE(request.ends_with("\r\n\r\n\r\n"));
}

TEST(CommandsTest, ValuesAreSentAsTypedWithoutEscaping) {
  const DeviceSession session = Session("a&b=c", "p%20 q");
  EXPECT_EQ(CommandBody(Command::kModeOne, session),
            "ID=a&b=c&PW=p%20 q&MODE=1&ACT=1&CODE=&DATA=");
}

TEST(CommandsTest, ContentLengthCountsBytesNotCharacters) {
  // "ü" is two bytes in UTF-8.
  const std::string body =
      CommandBody(Command::kQueryDevice, Session("\xC3\xBC", "pw"));
  EXPECT_EQ(body.size(), 35u);
  EXPECT_NE(ComposeRequest(body).find("Content-Length: 35\r\n"),
            std::string::npos);
}

TEST(CommandsTest, RestoreUsesTheSessionsDeviceCode) {
  DeviceSession session = Session("id", "pw");
  session.device_code = "XYZ9";
  EXPECT_TRUE(CommandBody(Command::kRestoreDeviceCode, session)
                  .ends_with("&CODE=user9&DATA=XYZ9"));
}

TEST(CommandsTest, LongestBodyFitsTheDevicesLine) {
  const DeviceSession session =
      Session(std::string(15, 'i'), std::string(15, 'p'));
  for (Command c :
       {Command::kQueryDevice, Command::kFtpOn, Command::kMarkForUpdate,
        Command::kRestartDevice, Command::kModeOne, Command::kFtpOff,
        Command::kRestoreDeviceCode}) {
    EXPECT_LE(CommandBody(c, session).size(), 127u);
  }
  EXPECT_EQ(CommandBody(Command::kFtpOn, session).size(), 77u);
}

}  // namespace
}  // namespace hj5
