#include "update/update_outcome.h"

namespace hj5 {

const char* StepName(UpdateStep step) {
  switch (step) {
    case UpdateStep::kNone:
      return "none";
    case UpdateStep::kIdentityCheck:
      return "identity check";
    case UpdateStep::kFtpOn:
      return "FTP on";
    case UpdateStep::kMarkForUpdate:
      return "update mark";
    case UpdateStep::kFirstRestart:
      return "first restart";
    case UpdateStep::kFirstWait:
      return "first wait";
    case UpdateStep::kModeOne:
      return "mode one";
    case UpdateStep::kUpload:
      return "upload";
    case UpdateStep::kFtpOff:
      return "FTP off";
    case UpdateStep::kRestoreDeviceCode:
      return "device code restored";
    case UpdateStep::kSecondRestart:
      return "second restart";
    case UpdateStep::kSecondWait:
      return "second wait";
  }
  return "unknown";
}

}  // namespace hj5
