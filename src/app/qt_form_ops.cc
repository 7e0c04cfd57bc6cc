#include "app/qt_form_ops.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <utility>

namespace hj5 {

// The stop flag and the hand-over between the UI thread and the callers.
struct QtFormOps::Gate {
  std::mutex mutex;
  std::condition_variable changed;
  bool closing = false;  // guarded by `mutex`
};

// One call posted to the UI thread.
template <typename Result>
struct PendingResult {
  std::optional<Result> result;  // written on the UI thread before `finished`
  bool finished = false;         // guarded by the gate's mutex
};

namespace {

// Marks a posted call finished when the posted functor is destroyed, whether
// Qt ran it or dropped it with its destroyed receiver, and wakes the caller.
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

// Runs `work` on the UI thread of `ui_object` and returns its result, or
// nullopt when the form is closing or closes before the result is there.
template <typename Gate, typename Result>
std::optional<Result> PostAndWait(QObject& ui_object,
                                  const std::shared_ptr<Gate>& gate,
                                  std::function<Result()> work) {
  auto call = std::make_shared<PendingResult<Result>>();
  auto completion = std::make_shared<Completion<Gate, Result>>(gate, call);
  std::unique_lock<std::mutex> lock(gate->mutex);
  if (gate->closing) return std::nullopt;
  QMetaObject::invokeMethod(
      &ui_object,
      [completion = std::move(completion), work = std::move(work)] {
        bool closing;
        {
          std::lock_guard<std::mutex> guard(completion->gate->mutex);
          closing = completion->gate->closing;
        }
        if (!closing) completion->call->result = work();
      },
      Qt::QueuedConnection);
  gate->changed.wait(lock, [&] { return call->finished || gate->closing; });
  if (!call->finished) return std::nullopt;
  return std::move(call->result);
}

}  // namespace

QtFormOps::QtFormOps(QObject& ui_object, FormOps& ui_ops)
    : ui_object_(ui_object), ui_ops_(ui_ops), gate_(std::make_shared<Gate>()) {}

bool QtFormOps::OnUiThread() const {
  return QThread::currentThread() == ui_object_.thread();
}

bool QtFormOps::closing() const {
  std::lock_guard<std::mutex> lock(gate_->mutex);
  return gate_->closing;
}

void QtFormOps::Interrupt() {
  {
    std::lock_guard<std::mutex> lock(gate_->mutex);
    gate_->closing = true;
  }
  gate_->changed.notify_all();
  if (OnUiThread()) {
    ui_ops_.Interrupt();
  } else {
    QMetaObject::invokeMethod(
        &ui_object_, [this] { ui_ops_.Interrupt(); }, Qt::QueuedConnection);
  }
}

bool QtFormOps::RunOnUiThread(const std::function<void()>& work) {
  if (OnUiThread()) {
    if (closing()) return false;
    work();
    return true;
  }
  std::function<bool()> posted = [work] {
    work();
    return true;
  };
  return PostAndWait(ui_object_, gate_, std::move(posted)).has_value();
}

void QtFormOps::ShowBox(BoxKind kind, const std::string& text) {
  RunOnUiThread([this, kind, text] { ui_ops_.ShowBox(kind, text); });
}

void QtFormOps::SetFieldText(FieldId field, const std::string& text) {
  RunOnUiThread([this, field, text] { ui_ops_.SetFieldText(field, text); });
}

std::string QtFormOps::FieldText(FieldId field) {
  std::function<std::string()> read = [this, field] {
    return ui_ops_.FieldText(field);
  };
  if (OnUiThread()) return closing() ? std::string() : read();
  return PostAndWait(ui_object_, gate_, std::move(read)).value_or("");
}

void QtFormOps::SetUpdateEnabled(bool enabled) {
  RunOnUiThread([this, enabled] { ui_ops_.SetUpdateEnabled(enabled); });
}

void QtFormOps::StartRestartTimer() {
  RunOnUiThread([this] { ui_ops_.StartRestartTimer(); });
}

void QtFormOps::StopRestartTimer() {
  RunOnUiThread([this] { ui_ops_.StopRestartTimer(); });
}

int QtFormOps::SendFirmwareMessage() {
  std::function<int()> send = [this] { return ui_ops_.SendFirmwareMessage(); };
  if (OnUiThread()) return closing() ? -1 : send();
  return PostAndWait(ui_object_, gate_, std::move(send)).value_or(-1);
}

std::optional<ChosenFile> QtFormOps::ChooseFile(
    const FileChooserRequest& request) {
  if (!OnUiThread() || closing()) return std::nullopt;
  std::optional<ChosenFile> chosen = ui_ops_.ChooseFile(request);
  if (closing()) return std::nullopt;
  return chosen;
}

}  // namespace hj5
