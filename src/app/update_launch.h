#ifndef HJ5_APP_UPDATE_LAUNCH_H_
#define HJ5_APP_UPDATE_LAUNCH_H_

#include <string>

#include "platform/form_ops.h"
#include "update/update_runner.h"

namespace hj5 {

// What the click of "XML-UPDATE" works on.
struct LaunchContext {
  FormOps& form;
  UpdateRunner& runner;
  // The directory the chooser opens in; empty: the toolkit's choice.
  std::string program_directory;
};

// The click's checks, in its order: first the chosen file (the name's
// length and bytes, then the XML check), then the values typed into the
// form's fields (address, login ID, password, ports), copied into
// `*session`. A refusal is told in a warning box (its cause, if any, kept
// in `causes`) and the checks stop there: false. Neither sends traffic.
bool CheckChosenFile(FormOps& form, CauseLog& causes, const ChosenFile& file);
bool CheckTypedValues(FormOps& form, DeviceSession* session);

// The click handler of "XML-UPDATE": chooses the file, checks it and the
// typed values and starts the update on the runner. A click while an update
// runs only says so. The causes of the click's refusals go into the
// runner's log, which the click empties first. UI thread; returns at once.
void LaunchUpdate(LaunchContext& context);

}  // namespace hj5

#endif  // HJ5_APP_UPDATE_LAUNCH_H_
