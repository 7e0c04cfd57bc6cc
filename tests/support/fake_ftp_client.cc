#include "support/fake_ftp_client.h"

#include <string>

namespace hj5::test {

Status FakeFtpClient::Send(const FtpUpload& upload) {
  uploads.push_back(upload);
  transcript_.Add("upload " + upload.local_path + " -> " + upload.remote_path +
                  " as " + upload.user + " to " + upload.host + ":" +
                  std::to_string(upload.port));
  if (cancelled_) return Status::Failure(ftp_code::kSendFile, "cancelled");
  return result == 0 ? Status() : Status::Failure(result, cause);
}

}  // namespace hj5::test
