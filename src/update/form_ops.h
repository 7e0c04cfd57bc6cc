#ifndef HJ5_UPDATE_FORM_OPS_H_
#define HJ5_UPDATE_FORM_OPS_H_

#include <string>

#include "platform/status.h"

namespace hj5 {

// Numeric identifiers of the form's controls.
enum class ControlId {
  kClose = 1,  // the form's OK button
  kAddress = 1000,
  kLoginId = 1001,
  kPassword = 1002,
  kStatus = 1003,
  kNotice = 1004,
  kFtpPort = 1006,
  kHttpPort = 1007,
  kUpdate = 1009,  // "XML-UPDATE"
};

// The text fields among them.
using FieldId = ControlId;

enum class BoxKind { kWarning, kInformation };

// What an update shows the operator: the operations the update procedure
// and the click need of the main form (the forms, and the command line's
// stand-in for one). Every box carries the caption "XML File Update" and
// one OK button.
//
// Threading: unless a method says otherwise it may be called from the UI
// thread or from the worker thread. It is synchronous: it returns once the
// UI thread has carried it out. Once the form is closing, every call
// returns at once without touching a window, and every result reads as a
// failure.
class FormOps {
 public:
  FormOps() = default;
  FormOps(const FormOps&) = delete;
  FormOps& operator=(const FormOps&) = delete;
  virtual ~FormOps() = default;

  // Shows a modal warning or information box with `text`; returns when the
  // operator has dismissed it. `cause` is why, for a maintainer: never
  // shown in the box, empty when there is none.
  virtual void ShowBox(BoxKind kind, const std::string& text,
                       const std::string& cause) = 0;

  // A warning box telling `failure` (its text; its cause and code are for
  // a maintainer). A form shows ShowBox(kWarning, text, cause); one that
  // keeps a record may keep the code too.
  virtual void ShowFailureBox(const Status& failure) {
    ShowBox(BoxKind::kWarning, failure.text(), failure.cause());
  }

  // Sets the text of the status line or the notice line.
  virtual void SetFieldText(FieldId field, const std::string& text) = 0;

  // Enables or disables the "XML-UPDATE" button (control 1009).
  virtual void SetUpdateEnabled(bool enabled) = 0;

  // Resets the restart counter to 0 and starts timer 2004 with a period of
  // 1,000 ms: each tick adds one to the counter and shows "Restarting(%d)" in
  // the status line.
  virtual void StartRestartTimer() = 0;

  // Stops timer 2004. The status line keeps its last text.
  virtual void StopRestartTimer() = 0;

  // Sends message 102 to the form and waits until its handler (the file
  // upload) has returned. Returns the handler's result: ok when the file
  // was stored. A message that could not be delivered (the form is closing)
  // is a failure without an operator's text, so that it never reads as a
  // stored file.
  virtual Status SendFirmwareMessage() = 0;

  // Releases every caller waiting for the UI thread (a box, a line, message
  // 102) and makes every later call return at once, as when the form closes:
  // an update that is being stopped must not wait for a person. Any thread;
  // never blocks. Cannot be undone.
  virtual void Interrupt() = 0;
};

}  // namespace hj5

#endif  // HJ5_UPDATE_FORM_OPS_H_
