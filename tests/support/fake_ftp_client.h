#ifndef HJ5_TESTS_SUPPORT_FAKE_FTP_CLIENT_H_
#define HJ5_TESTS_SUPPORT_FAKE_FTP_CLIENT_H_

#include <atomic>
#include <string>
#include <vector>

#include "platform/ftp_client.h"
#include "support/transcript.h"

namespace hj5::test {

// An FTP client that returns `result` and records every upload as
// "upload <local> -> <remote> as <user> to <host>:<port>". A failure
// carries `cause`.
class FakeFtpClient final : public FtpClient {
 public:
  explicit FakeFtpClient(Transcript& transcript) : transcript_(transcript) {}

  Status Send(const FtpUpload& upload) override;
  void Cancel() override { cancelled_ = true; }

  int result = 0;
  std::string cause;
  std::vector<FtpUpload> uploads;

 private:
  Transcript& transcript_;
  std::atomic<bool> cancelled_{false};
};

}  // namespace hj5::test

#endif  // HJ5_TESTS_SUPPORT_FAKE_FTP_CLIENT_H_
