#ifndef HJ5_APP_WIN_WIN_FORM_OPS_H_
#define HJ5_APP_WIN_WIN_FORM_OPS_H_

#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>

#include "app/hand_over_form_ops.h"

namespace hj5 {

// The UI thread of a dialog: work posted from other threads waits in a
// queue of our own and the dialog is woken with kRunPosted, so that work
// the dialog never runs (it has gone) is still destroyed, with the queue.
class DialogUiThread : public UiThread {
 public:
  static constexpr UINT kRunPosted = WM_APP + 1;

  // The thread that constructs it is the UI thread.
  DialogUiThread();
  ~DialogUiThread() override;

  bool IsCurrent() const override;
  void Post(std::function<void()> work) override;

  // The dialog that runs the work: from its creation to its destruction
  // (nullptr drops what is queued). UI thread.
  void Attach(HWND dialog);

  // The dialog, or nullptr. Any thread.
  HWND dialog() const;

  // Runs the queued work; the dialog's handler of kRunPosted.
  void RunPosted();

 private:
  const DWORD thread_id_;
  mutable std::mutex mutex_;
  HWND dialog_ = nullptr;                   // guarded by mutex_
  std::deque<std::function<void()>> work_;  // guarded by mutex_
};

// The form operations of the Windows form, safe from any thread (see
// HandOverFormOps). The upload is handed to the UI thread with SendMessage
// (message 102, its result written through the message's lParam), as the
// form's own message loop expects it: the form must serve message 102 while
// it waits for a stopping worker.
class WinFormOps : private DialogUiThread, public HandOverFormOps {
 public:
  explicit WinFormOps(FormOps& ui_ops)
      : HandOverFormOps(static_cast<DialogUiThread&>(*this), ui_ops) {}

  using DialogUiThread::Attach;
  using DialogUiThread::kRunPosted;
  using DialogUiThread::RunPosted;

  // Ok when the file was stored; NotDelivered() when the message was not
  // delivered or found the form closing.
  Status SendFirmwareMessage() override;
};

}  // namespace hj5

#endif  // HJ5_APP_WIN_WIN_FORM_OPS_H_
