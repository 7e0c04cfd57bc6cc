#include "support/fake_ftp_client.h"

#include <string>

namespace hj5::test {

int FakeFtpClient::Send(const FtpUpload& upload) {
  uploads.push_back(upload);
  transcript_.Add("upload " + upload.local_path + " -> " + upload.remote_path +
                  " as " + upload.user + " to " + upload.host + ":" +
                  std::to_string(upload.port));
  return cancelled_ ? ftp_code::kSendFile : result;
}

}  // namespace hj5::test
