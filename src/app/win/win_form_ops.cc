#include "app/win/win_form_ops.h"

#include <utility>

#include "app/form_defaults.h"

namespace hj5 {

DialogUiThread::DialogUiThread() : thread_id_(GetCurrentThreadId()) {}

DialogUiThread::~DialogUiThread() { Attach(nullptr); }

bool DialogUiThread::IsCurrent() const {
  return GetCurrentThreadId() == thread_id_;
}

HWND DialogUiThread::dialog() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dialog_;
}

void DialogUiThread::Attach(HWND dialog) {
  std::deque<std::function<void()>> dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    dialog_ = dialog;
    if (!dialog) dropped.swap(work_);
  }
}

void DialogUiThread::Post(std::function<void()> work) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!dialog_) return;  // `work` is dropped on return, outside the lock
  work_.push_back(std::move(work));
  if (!PostMessageW(dialog_, kRunPosted, 0, 0)) {
    std::function<void()> dropped = std::move(work_.back());
    work_.pop_back();
    lock.unlock();
  }
}

void DialogUiThread::RunPosted() {
  for (;;) {
    std::function<void()> work;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (work_.empty()) return;
      work = std::move(work_.front());
      work_.pop_front();
    }
    work();
  }
}

Status WinFormOps::SendFirmwareMessage() {
  if (closing()) return NotDelivered();
  if (OnUiThread()) return HandOverFormOps::SendFirmwareMessage();
  const HWND form = dialog();
  Status result = NotDelivered();  // stays so when the message is not delivered
  if (form) {
    SendMessageW(form, kSendFirmwareMessage, 0,
                 reinterpret_cast<LPARAM>(&result));
  }
  return result;
}

}  // namespace hj5
