#include "update/firmware_send.h"

#include "device/error_table.h"

namespace hj5 {

std::string RemotePath(const std::string& chosen_name) {
  return kRemoteDirectory + chosen_name;
}

Status FirmwareSend(const UpdateContext& context) {
  const DeviceSession& session = context.session;
  FtpUpload upload;
  upload.host = session.address;
  upload.user = session.login_id;
  upload.password = session.password;
  upload.port = session.ftp_port;
  upload.local_path = context.chosen.path;
  upload.content = context.chosen.content;
  upload.remote_path = RemotePath(context.chosen.name);
  upload.verify = context.chosen.verify;
  const Status sent = context.platform.ftp.Send(upload);
  if (sent.ok()) return sent;
  // A stored file that is not the one sent has a text of its own; the
  // client's codes have theirs in its table.
  const std::string message = sent.code() == ftp_code::kVerify
                                  ? "Verify Error"
                                  : FtpErrorText(sent.code());
  const Status told = sent.Told("Firm Sending Error(" + message + ")");
  context.form.ShowFailureBox(told);
  return told;
}

}  // namespace hj5
