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
// connection, so that BeginClosing() can release a worker whose call has not
// been carried out yet: the close never depends on the UI thread reaching the
// posted call, and ThreadSanitizer sees the hand-over.
//
// Once BeginClosing() has been called every operation returns at once without
// touching a widget, and every result reads as a failure: FieldText() "",
// SendFirmwareMessage() -1, ChooseFile() nullopt, StartWorker() false.
class QtFormOps : public FormOps {
 public:
  // `ui_object` must outlive every call posted to it, or BeginClosing() must
  // have been called before it is destroyed (posted calls to a destroyed
  // object are dropped by Qt, and the waiting caller is released).
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
  bool StartWorker(std::function<void()> procedure) override;

  // Sets the stop flag and releases every caller waiting for the UI thread.
  // Any thread; never blocks on the UI thread. Cannot be undone.
  void BeginClosing();

  // True once BeginClosing() has been called. Any thread.
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
