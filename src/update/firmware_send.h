#ifndef HJ5_UPDATE_FIRMWARE_SEND_H_
#define HJ5_UPDATE_FIRMWARE_SEND_H_

#include <string>

#include "platform/status.h"
#include "update/update_context.h"

namespace hj5 {

// The directory on the device that receives the file.
inline constexpr const char* kRemoteDirectory = "C:\\www\\";

// "C:\www\" followed by the chosen name, unchanged.
std::string RemotePath(const std::string& chosen_name);

// The form's handler of message 102: uploads the chosen file to the device
// (and reads it back as the chosen file's `verify` asks). On failure it
// shows one warning box, "Firm Sending Error(<message>)" with the FTP
// client table's message, or "Firm Sending Error(Verify Error)" when the
// stored file is not the one sent, with the FTP client's cause, and returns
// that failure; it writes neither line and leaves control 1009 alone. UI
// thread in the forms.
Status FirmwareSend(const UpdateContext& context);

}  // namespace hj5

#endif  // HJ5_UPDATE_FIRMWARE_SEND_H_
