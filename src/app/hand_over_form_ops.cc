#include "app/hand_over_form_ops.h"

#include <condition_variable>
#include <mutex>
#include <utility>

#include "platform/ftp_client.h"

namespace hj5 {

// The stop flag and the hand-over between the UI thread and the callers.
struct HandOverFormOps::Gate {
  std::mutex mutex;
  std::condition_variable changed;
  bool closing = false;  // guarded by `mutex`
};

namespace {

// One call posted to the UI thread.
template <typename Result>
struct PendingResult {
  std::optional<Result> result;  // written on the UI thread before `finished`
  bool finished = false;         // guarded by the gate's mutex
};

// Marks a posted call finished when the posted work is destroyed, whether
// the UI thread ran it or dropped it, and wakes the caller.
template <typename Gate, typename Result>
struct Completion {
  std::shared_ptr<Gate> gate;
  std::shared_ptr<PendingResult<Result>> call;
  ~Completion() {
    {
      std::lock_guard<std::mutex> lock(gate->mutex);
      call->finished = true;
    }
    gate->changed.notify_all();
  }
};

}  // namespace

HandOverFormOps::HandOverFormOps(UiThread& ui, FormOps& ui_ops)
    : ui_(ui), ui_ops_(ui_ops), gate_(std::make_shared<Gate>()) {}

bool HandOverFormOps::closing() const {
  std::lock_guard<std::mutex> lock(gate_->mutex);
  return gate_->closing;
}

template <typename Result>
std::optional<Result> HandOverFormOps::Run(std::function<Result()> work) {
  if (ui_.IsCurrent()) {
    if (closing()) return std::nullopt;
    return work();
  }
  auto call = std::make_shared<PendingResult<Result>>();
  auto completion = std::make_shared<Completion<Gate, Result>>(gate_, call);
  std::unique_lock<std::mutex> lock(gate_->mutex);
  if (gate_->closing) return std::nullopt;
  lock.unlock();
  ui_.Post([completion = std::move(completion), work = std::move(work)] {
    bool closing;
    {
      std::lock_guard<std::mutex> guard(completion->gate->mutex);
      closing = completion->gate->closing;
    }
    if (!closing) completion->call->result = work();
  });
  lock.lock();
  gate_->changed.wait(lock, [&] { return call->finished || gate_->closing; });
  if (!call->finished) return std::nullopt;
  return std::move(call->result);
}

void HandOverFormOps::Interrupt() {
  {
    std::lock_guard<std::mutex> lock(gate_->mutex);
    gate_->closing = true;
  }
  gate_->changed.notify_all();
  if (ui_.IsCurrent()) {
    ui_ops_.Interrupt();
  } else {
    ui_.Post([this] { ui_ops_.Interrupt(); });
  }
}

void HandOverFormOps::Do(std::function<void()> work) {
  Run<bool>([work = std::move(work)] {
    work();
    return true;
  });
}

void HandOverFormOps::ShowBox(BoxKind kind, const std::string& text,
                              const std::string& cause) {
  Do([this, kind, text, cause] { ui_ops_.ShowBox(kind, text, cause); });
}

void HandOverFormOps::SetFieldText(FieldId field, const std::string& text) {
  Do([this, field, text] { ui_ops_.SetFieldText(field, text); });
}

void HandOverFormOps::SetUpdateEnabled(bool enabled) {
  Do([this, enabled] { ui_ops_.SetUpdateEnabled(enabled); });
}

void HandOverFormOps::StartRestartTimer() {
  Do([this] { ui_ops_.StartRestartTimer(); });
}

void HandOverFormOps::StopRestartTimer() {
  Do([this] { ui_ops_.StopRestartTimer(); });
}

Status HandOverFormOps::SendFirmwareMessage() {
  return Run<Status>([this] { return ui_ops_.SendFirmwareMessage(); })
      .value_or(NotDelivered());
}

Status NotDelivered() {
  return Status::Failure(ftp_code::kSendFile,
                         "message 102 not delivered: the form is closing");
}

}  // namespace hj5
