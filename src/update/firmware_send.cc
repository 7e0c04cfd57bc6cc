#include "update/firmware_send.h"

#include "device/error_table.h"

namespace hj5 {

std::string RemotePath(const std::string& chosen_name) {
  return kRemoteDirectory + chosen_name;
}

int FirmwareSend(const UpdateContext& context) {
  const DeviceSession& session = context.session;
  FtpUpload upload;
  upload.host = session.address;
  upload.user = session.login_id;
  upload.password = session.password;
  upload.port = session.ftp_port;
  upload.local_path = context.chosen.path;
  upload.remote_path = RemotePath(context.chosen.name);
  FtpClient& ftp = context.platform.ftp;
  int code = ftp.Send(upload);
  if (code == ftp_code::kOk) return 0;
  const std::string text = "Firm Sending Error(" + FtpErrorText(code) + ")";
  context.causes.Add(text, ftp.LastCause());
  context.form.ShowBox(BoxKind::kWarning, text);
  return -1;
}

}  // namespace hj5
