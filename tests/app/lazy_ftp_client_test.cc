// The FTP client that loads its module on the first upload.

#include "app/lazy_ftp_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "gtest/gtest.h"

namespace hj5 {
namespace {

FtpUpload AnyUpload() {
  FtpUpload upload;
  upload.host = "127.0.0.1";
  upload.port = 1;  // never reached in these tests
  upload.local_path = "/nonexistent/a.xml";
  upload.remote_path = "C:\\www\\a.xml";
  return upload;
}

TEST(LazyFtpClientTest, WithoutAModuleEveryUploadFailsAsAnArgumentError) {
  LazyFtpClient client({"/nonexistent/libnothing.so", ""});
  EXPECT_EQ(client.Send(AnyUpload()), ftp_code::kArgument);
  EXPECT_EQ(client.Send(AnyUpload()), ftp_code::kArgument);
}

TEST(LazyFtpClientTest, CancelledBeforeTheFirstUploadLoadsNothing) {
  LazyFtpClient client({HJ5_FTP_MODULE_BUILT});
  client.Cancel();
  EXPECT_EQ(client.Send(AnyUpload()), ftp_code::kSendFile);
}

// A loopback port nothing listens on (it was free a moment ago).
std::uint16_t ClosedLoopbackPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

TEST(LazyFtpClientTest, TheBuiltModuleUploadsThroughTheCurlClient) {
  char local[] = "/tmp/hj5-lazy-ftp-XXXXXX";
  const int fd = mkstemp(local);
  ASSERT_GE(fd, 0);
  close(fd);
  FtpUpload upload = AnyUpload();
  upload.local_path = local;
  upload.port = ClosedLoopbackPort();
  LazyFtpClient client({"/nonexistent/libnothing.so", HJ5_FTP_MODULE_BUILT});
  // Loaded: the connection is refused, not the argument.
  EXPECT_EQ(client.Send(upload), ftp_code::kConnection);
  client.Cancel();
  EXPECT_EQ(client.Send(upload), ftp_code::kSendFile);
  unlink(local);
}

}  // namespace
}  // namespace hj5
