#ifndef HJ5_APP_HAND_OVER_FORM_OPS_H_
#define HJ5_APP_HAND_OVER_FORM_OPS_H_

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "update/form_ops.h"

namespace hj5 {

// The thread that owns the form's windows, as the hand-over needs it.
class UiThread {
 public:
  UiThread() = default;
  UiThread(const UiThread&) = delete;
  UiThread& operator=(const UiThread&) = delete;
  virtual ~UiThread() = default;

  // True on the UI thread. Any thread.
  virtual bool IsCurrent() const = 0;

  // Queues `work` to run once on the UI thread. `work` is destroyed after it
  // has run, or without running when the UI thread will never run it (the
  // window is gone). Any thread; never blocks on the UI thread.
  virtual void Post(std::function<void()> work) = 0;
};

// What message 102 gives when the form, closing, never handled it: an
// upload failure without an operator's text.
Status NotDelivered();

// The form operations, safe from any thread, for a toolkit whose windows
// belong to one thread. Wraps the form's own operations (`ui_ops`, UI thread
// only): a call on the UI thread runs directly; a call from another thread
// is posted to the UI thread and waits until it has been carried out there.
//
// The wait is a condition variable of our own, so that Interrupt() can
// release a worker whose call has not been carried out yet: the close never
// depends on the UI thread reaching the posted call. The update runner joins
// its worker before the form goes, so no caller outlives the form.
//
// Once Interrupt() has been called every operation returns at once without
// touching a window, and SendFirmwareMessage() reads as a failure.
class HandOverFormOps : public FormOps {
 public:
  // `ui` and `ui_ops` must outlive every caller.
  HandOverFormOps(UiThread& ui, FormOps& ui_ops);

  void ShowBox(BoxKind kind, const std::string& text,
               const std::string& cause) override;
  void SetFieldText(FieldId field, const std::string& text) override;
  void SetUpdateEnabled(bool enabled) override;
  void StartRestartTimer() override;
  void StopRestartTimer() override;
  Status SendFirmwareMessage() override;

  // Sets the stop flag, releases every caller waiting for the UI thread and
  // interrupts the form's own waits (its open boxes and chooser, on the UI
  // thread). Any thread; never blocks on the UI thread. Cannot be undone.
  void Interrupt() override;

  // True once Interrupt() has been called. Any thread.
  bool closing() const;

  // True on the UI thread.
  bool OnUiThread() const { return ui_.IsCurrent(); }

 protected:
  FormOps& ui_ops() { return ui_ops_; }

 private:
  struct Gate;

  // Runs `work` on the UI thread and returns its result; nullopt when the
  // form is closing or closes before `work` has run.
  template <typename Result>
  std::optional<Result> Run(std::function<Result()> work);
  // The same for an operation without a result.
  void Do(std::function<void()> work);

  UiThread& ui_;
  FormOps& ui_ops_;
  std::shared_ptr<Gate> gate_;
};

}  // namespace hj5

#endif  // HJ5_APP_HAND_OVER_FORM_OPS_H_
