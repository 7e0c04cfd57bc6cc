// The WinINet FTP client under wine against the device emulator, which the
// Linux side starts (run_with_emulator.sh) and names in the environment:
// HJ5_FTP_PORT, and HJ5_EMULATOR_WWW, the folder uploads land in.

#include "platform/wininet_ftp_client.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace hj5 {
namespace {

namespace fs = std::filesystem;

class WinInetFtpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* port = std::getenv("HJ5_FTP_PORT");
    const char* www = std::getenv("HJ5_EMULATOR_WWW");
    ASSERT_TRUE(port && www) << "run through run_with_emulator.sh";
    port_ = static_cast<std::uint16_t>(std::atoi(port));
    www_ = www;
    dir_ = fs::temp_directory_path() /
           ("hj5-wininet-" + std::to_string(std::random_device{}()));
    ASSERT_TRUE(fs::create_directory(dir_));
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& bytes) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }

  FtpUpload Upload(const std::string& local, const std::string& name) {
    FtpUpload upload;
    upload.host = "127.0.0.1";
    upload.user = "admin";
    upload.password = "hj5pass";
    upload.port = port_;
    upload.local_path = local;
    upload.remote_path = "C:\\www\\" + name;
    return upload;
  }

  std::string Stored(const std::string& name) {
    std::ifstream in(fs::path(www_) / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::uint16_t port_ = 0;
  std::string www_;
  fs::path dir_;
};

TEST_F(WinInetFtpClientTest, StoresTheFileByteForByteInChunks) {
  std::string bytes = "<?xml version=\"1.0\"?>\r\n<a>\n";
  for (int i = 0; i < 3000; ++i) bytes += static_cast<char>(i % 256);
  bytes += "\r\n</a>\x1a\n";
  WinInetFtpClient client(WinInetFtpLimits{.chunk_bytes = 1000});
  const Status sent = client.Send(Upload(Write("a.xml", bytes), "wininet.xml"));
  EXPECT_TRUE(sent.ok()) << sent.cause();
  EXPECT_EQ(client.BytesSent(), bytes.size());
  EXPECT_TRUE(Stored("wininet.xml") == bytes);
}

TEST_F(WinInetFtpClientTest, ARefusedLoginIsAConnectionErrorWithTheReply) {
  WinInetFtpClient client;
  FtpUpload upload = Upload(Write("a.xml", "<?xml"), "login.xml");
  upload.password = "Wrong-Pass-77";
  const Status sent = client.Send(upload);
  EXPECT_EQ(sent.code(), ftp_code::kConnection);
  EXPECT_NE(sent.cause(), "");
  EXPECT_EQ(sent.cause().find("Wrong-Pass-77"), std::string::npos);
}

TEST_F(WinInetFtpClientTest, WhatCannotBeSentIsRefusedBeforeAnyTraffic) {
  WinInetFtpClient client;
  const Status missing =
      client.Send(Upload((dir_ / "missing.xml").string(), "m.xml"));
  EXPECT_EQ(missing.code(), ftp_code::kArgument);
  EXPECT_EQ(missing.cause().rfind("local file: ", 0), 0u) << missing.cause();
  FtpUpload upload = Upload(Write("a.xml", "<?xml"), "a\r\nDELE b.xml");
  EXPECT_EQ(client.Send(upload).code(), ftp_code::kArgument);
  EXPECT_EQ(Stored("a\r\nDELE b.xml"), "");
}

TEST_F(WinInetFtpClientTest, NothingListeningIsAConnectionError) {
  WinInetFtpClient client;
  FtpUpload upload = Upload(Write("a.xml", "<?xml"), "none.xml");
  upload.port = 9;  // nothing listens on loopback's discard port here
  const Status sent = client.Send(upload);
  EXPECT_EQ(sent.code(), ftp_code::kConnection) << sent.cause();
}

TEST_F(WinInetFtpClientTest, ACancelledClientSendsNothing) {
  WinInetFtpClient client;
  client.Cancel();
  const Status sent = client.Send(Upload(Write("a.xml", "<?xml"), "late.xml"));
  EXPECT_EQ(sent.code(), ftp_code::kSendFile);
  EXPECT_EQ(sent.cause(), "cancelled");
  EXPECT_EQ(Stored("late.xml"), "");
}

}  // namespace
}  // namespace hj5
