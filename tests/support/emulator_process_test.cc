#include "support/emulator_process.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace hj5::test {
namespace {

using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::IsEmpty;
using ::testing::StartsWith;

int Connect(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  timeval tv{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Sends `data`, then reads until `until` has been seen or the peer closes.
std::string Talk(int fd, const std::string& data, const std::string& until) {
  ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
  std::string reply;
  char buf[4096];
  while (reply.find(until) == std::string::npos) {
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    reply.append(buf, static_cast<std::size_t>(n));
  }
  return reply;
}

std::string Command(std::uint16_t port, const std::string& body) {
  int fd = Connect(port);
  if (fd < 0) return "";
  std::string reply = Talk(fd,
                           "POST /system.wcr  HTTP/1.1\r\nContent-Length: " +
                               std::to_string(body.size()) +
                               "\r\nConnection: Keep-Alive\r\nCache-Control: "
                               "no-cache\r\n\r\n" +
                               body,
                           ")");
  ::close(fd);
  return reply;
}

const std::string kQuery = "ID=admin&PW=hj5pass&MODE=4&ACT=&CODE=&DATA=";

TEST(EmulatorProcessTest, StartsOnDistinctPortsWithItsOwnRoot) {
  EmulatorProcess emu;
  ASSERT_TRUE(emu.ok()) << emu.error();
  EXPECT_NE(emu.http_port(), 0);
  EXPECT_NE(emu.http_port(), emu.ftp_port());
  EXPECT_NE(emu.ftp_port(), emu.control_port());
  EXPECT_TRUE(std::filesystem::is_directory(emu.root() + "/www"));
  EXPECT_EQ(emu.BootCount(), 1);
}

TEST(EmulatorProcessTest, DestructionEndsTheEmulatorAndRemovesItsRoot) {
  std::uint16_t port = 0;
  std::string root;
  {
    EmulatorProcess emu;
    ASSERT_TRUE(emu.ok()) << emu.error();
    port = emu.http_port();
    root = emu.root();
  }
  EXPECT_EQ(Connect(port), -1);
  EXPECT_FALSE(std::filesystem::exists(root));
}

TEST(EmulatorProcessTest, ReportsWhyItCouldNotStart) {
  EmulatorProcess emu({"--no-such-option"});
  EXPECT_FALSE(emu.ok());
  EXPECT_THAT(emu.error(), Not(IsEmpty()));
  EXPECT_EQ(emu.Control("GET", "/state"), "");
}

TEST(EmulatorProcessTest, ParamsKeepEveryByte) {
  EmulatorProcess emu;
  ASSERT_TRUE(emu.ok()) << emu.error();
  EXPECT_EQ(emu.Param("user9"), "HJ5M");
  EXPECT_EQ(emu.Param("svr_ftp_port"), "0");
  const std::string odd = "UP\"DA\\TE\x01\xE9\xFF&x=%41";
  emu.SetParam("user9", odd);
  EXPECT_EQ(emu.Param("user9"), odd);
  EXPECT_EQ(emu.Param("no such parameter"), "");
}

TEST(EmulatorProcessTest, RecordsRequestsAsReceived) {
  EmulatorProcess emu;
  ASSERT_TRUE(emu.ok()) << emu.error();
  const std::string body = "ID=adm\xE9n&PW=%41&MODE=4&ACT=&CODE=&DATA=";
  EXPECT_THAT(Command(emu.http_port(), body), EndsWith("HJ5_Ret(-2)"));
  EXPECT_THAT(Command(emu.http_port(), "\r\n"), EndsWith("HJ5_Ret(-1)"));
  EXPECT_THAT(emu.RequestBodies(), ElementsAre(body, "\r\n"));
  auto raw = emu.RawRequests();
  ASSERT_EQ(raw.size(), 2u);
  EXPECT_THAT(raw[0], StartsWith("POST /system.wcr  HTTP/1.1\r\n"));
  EXPECT_THAT(raw[0], EndsWith("\r\n\r\n" + body));
  emu.ClearRecords();
  EXPECT_THAT(emu.RequestBodies(), IsEmpty());
}

TEST(EmulatorProcessTest, FaultsChangeRepliesUntilCleared) {
  EmulatorProcess emu;
  ASSERT_TRUE(emu.ok()) << emu.error();
  emu.AddFault(R"({"match": {"MODE": "4"}, "code": -5})");
  std::string reply = Command(emu.http_port(), kQuery);
  EXPECT_THAT(reply, EndsWith("HJ5_Ret(-5)"));
  EXPECT_NE(reply.find("user9=HJ5M"), std::string::npos);
  emu.ClearFaults();
  EXPECT_THAT(Command(emu.http_port(), kQuery), EndsWith("HJ5_Ret(0)"));
}

TEST(EmulatorProcessTest, BootCountFollowsARestart) {
  EmulatorProcess emu({"--reboot-seconds", "0.2"});
  ASSERT_TRUE(emu.ok()) << emu.error();
  EXPECT_THAT(
      Command(emu.http_port(), "ID=admin&PW=hj5pass&MODE=3&ACT=1&CODE=&DATA="),
      EndsWith("HJ5_Ret(0)"));
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (emu.BootCount() != 2 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(emu.BootCount(), 2);
}

TEST(EmulatorProcessTest, RecordsFtpCommandsWithPasswords) {
  EmulatorProcess emu({"--ftp-on"});
  ASSERT_TRUE(emu.ok()) << emu.error();
  int fd = Connect(emu.ftp_port());
  ASSERT_GE(fd, 0);
  EXPECT_THAT(Talk(fd, "", "\r\n"), StartsWith("220"));
  EXPECT_THAT(Talk(fd, "USER admin\r\n", "\r\n"), StartsWith("331"));
  EXPECT_THAT(Talk(fd, "PASS hj5pass\r\n", "\r\n"), StartsWith("230"));
  EXPECT_THAT(Talk(fd, "QUIT\r\n", "\r\n"), StartsWith("221"));
  ::close(fd);
  EXPECT_THAT(emu.FtpCommands(),
              ElementsAre("USER admin", "PASS hj5pass", "QUIT"));
}

TEST(EmulatorProcessTest, ReadsStoredFilesByteForByte) {
  EmulatorProcess emu;
  ASSERT_TRUE(emu.ok()) << emu.error();
  const std::string bytes("<?xml\r\n\0\xFF", 9);
  std::ofstream(emu.root() + "/www/a.xml", std::ios::binary) << bytes;
  EXPECT_TRUE(emu.HasStoredFile("a.xml"));
  EXPECT_EQ(emu.StoredFile("a.xml"), bytes);
  EXPECT_FALSE(emu.HasStoredFile("b.xml"));
  EXPECT_EQ(emu.StoredFile("b.xml"), "");
}

}  // namespace
}  // namespace hj5::test
