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
  upload.remote_path = RemotePath(context.chosen.name);
  const Status sent = context.platform.ftp.Send(upload);
  if (sent.ok()) return sent;
  const Status told =
      sent.Told("Firm Sending Error(" + FtpErrorText(sent.code()) + ")");
  context.form.ShowBox(BoxKind::kWarning, told.text(), told.cause());
  return told;
}

}  // namespace hj5
