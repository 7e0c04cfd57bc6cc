#ifndef HJ5_UPDATE_UPDATE_CONTEXT_H_
#define HJ5_UPDATE_UPDATE_CONTEXT_H_

#include <string>

#include "device/device_link.h"
#include "device/device_session.h"
#include "platform/ftp_client.h"
#include "platform/platform.h"
#include "update/form_ops.h"

namespace hj5 {

// What the operator chose: the full path and the bare file name.
struct ChosenFile {
  std::string path;  // as this machine's file reading takes it (UTF-8)
  std::string name;  // as the device gets it
  // False when the name has a character with no form in the bytes the
  // device gets (the ANSI code page on Windows): such a file is refused
  // before any traffic.
  bool name_fits = true;
  // What the upload reads back of the stored file (the command line's
  // --verify; the forms never do).
  FtpVerify verify = FtpVerify::kNone;
  // The bytes to send when a run read them once (the command line's
  // snapshot, which outlives the update); null: the file at `path`.
  const FileBytes* content = nullptr;
};

// Everything one update works with: the form it reports through, the
// adapters, and the connection values and the chosen file (read only while
// the update runs). All of them outlive the update.
struct UpdateContext {
  FormOps& form;
  const Platform& platform;
  const DeviceSession& session;
  const ChosenFile& chosen;

  DeviceLink device() const { return {platform, session}; }
};

}  // namespace hj5

#endif  // HJ5_UPDATE_UPDATE_CONTEXT_H_
