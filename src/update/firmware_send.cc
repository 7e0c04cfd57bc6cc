#include "update/firmware_send.h"

#include "device/error_table.h"

namespace hj5 {

std::string RemotePath(const std::string& chosen_name) {
  return kRemoteDirectory + chosen_name;
}

int FirmwareSend(FormOps& form, FtpClient& ftp, const DeviceSession& session,
                 const ChosenFile& file) {
  FtpUpload upload;
  upload.host = session.address;
  upload.user = session.login_id;
  upload.password = session.password;
  upload.port = session.ftp_port;
  upload.local_path = file.path;
  upload.remote_path = RemotePath(file.name);
  int code = ftp.Send(upload);
  if (code == ftp_code::kOk) return 0;
  form.ShowBox(BoxKind::kWarning,
               "Firm Sending Error(" + FtpErrorText(code) + ")");
  return -1;
}

}  // namespace hj5
