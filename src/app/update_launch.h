#ifndef HJ5_APP_UPDATE_LAUNCH_H_
#define HJ5_APP_UPDATE_LAUNCH_H_

#include <atomic>
#include <functional>
#include <string>

#include "device/device_session.h"
#include "platform/form_ops.h"

namespace hj5 {

// What the click of "XML-UPDATE" works on. The form owns all of it.
struct LaunchContext {
  FormOps& form;
  DeviceSession& session;  // filled from the fields
  ChosenFile& chosen;      // the chosen file
  // Set by the click before the worker starts, cleared by the worker's last
  // act. Guards against a second update while one runs.
  std::atomic<bool>& running;
  // The directory the chooser opens in; empty: the toolkit's choice.
  std::string program_directory;
  // The update itself, run on the worker thread.
  std::function<void()> update;
};

// The click handler of "XML-UPDATE": chooses the file, checks it and the
// typed values, copies them into the session and starts the worker. UI
// thread; returns at once.
void LaunchUpdate(LaunchContext& context);

}  // namespace hj5

#endif  // HJ5_APP_UPDATE_LAUNCH_H_
