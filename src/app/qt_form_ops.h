#ifndef HJ5_APP_QT_FORM_OPS_H_
#define HJ5_APP_QT_FORM_OPS_H_

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/form_ops.h"

class QObject;

namespace hj5 {

// The form operations, safe from any thread. Wraps the form's own operations
// (`ui_ops`, which may only run on the thread of `ui_object`, the UI thread):
// a call on the UI thread runs directly; a call from another thread is posted
// to the UI thread and waits until it has been carried out there.
//
// The wait is a condition variable of our own rather than a blocking queued
// connection, so that Interrupt() can release a worker whose call has not
// been carried out yet: the close never depends on the UI thread reaching the
// posted call, and ThreadSanitizer sees the hand-over. The update runner
// joins its worker before the form goes, so no caller outlives the form.
//
// Once Interrupt() has been called every operation returns at once without
// touching a widget, and every result reads as a failure: FieldText() "",
// SendFirmwareMessage() -1, ChooseFile() nullopt.
class QtFormOps : public FormOps {
 public:
  // `ui_object` and `ui_ops` must outlive every caller. A call posted to
  // `ui_object` and still queued when it is destroyed is dropped by Qt.
  QtFormOps(QObject& ui_object, FormOps& ui_ops);

  void ShowBox(BoxKind kind, const std::string& text) override;
  void SetFieldText(FieldId field, const std::string& text) override;
  std::string FieldText(FieldId field) override;
  void SetUpdateEnabled(bool enabled) override;
  void StartRestartTimer() override;
  void StopRestartTimer() override;
  int SendFirmwareMessage() override;
  std::optional<ChosenFile> ChooseFile(
      const FileChooserRequest& request) override;

  // Sets the stop flag, releases every caller waiting for the UI thread and
  // interrupts the form's own waits (its open boxes and chooser, on the UI
  // thread). Any thread; never blocks on the UI thread. Cannot be undone.
  void Interrupt() override;

  // True once Interrupt() has been called. Any thread.
  bool closing() const;

  // True on the thread that owns `ui_object`.
  bool OnUiThread() const;

 private:
  struct Gate;
  struct PendingCall;

  // Runs `work` on the UI thread and returns true once it has run there;
  // returns false when the form is closing or closes before `work` has run.
  bool RunOnUiThread(const std::function<void()>& work);

  QObject& ui_object_;
  FormOps& ui_ops_;
  std::shared_ptr<Gate> gate_;
};

}  // namespace hj5

#endif  // HJ5_APP_QT_FORM_OPS_H_
