#include "cli/terminal_form.h"

#include <utility>

#include "platform/ftp_client.h"

namespace hj5::cli {

TerminalForm::TerminalForm(std::string device, Sink sink)
    : device_(std::move(device)), sink_(std::move(sink)) {}

void TerminalForm::Attach(Upload upload, UploadGate* gate) {
  upload_ = std::move(upload);
  gate_ = gate;
}

void TerminalForm::EmitLocked(std::string kind, std::string text,
                              std::string cause) {
  Event event;
  event.device = device_;
  event.kind = std::move(kind);
  event.text = std::move(text);
  event.cause = std::move(cause);
  sink_(std::move(event));
}

void TerminalForm::ShowBox(BoxKind kind, const std::string& text,
                           const std::string& cause) {
  std::lock_guard lock(mutex_);
  if (interrupted_) return;
  EmitLocked(kind == BoxKind::kInformation ? "information" : "warning", text,
             cause);
}

void TerminalForm::SetFieldText(FieldId field, const std::string& text) {
  std::lock_guard lock(mutex_);
  if (interrupted_) return;
  if (field == FieldId::kStatus) {
    status_ = text;
    EmitLocked("status", text);
  } else if (field == FieldId::kNotice) {
    EmitLocked("notice", text);
  }
}

void TerminalForm::StartRestartTimer() {
  std::lock_guard lock(mutex_);
  if (interrupted_) return;
  timer_running_ = true;
  timer_start_ = Clock::now();
  ticks_ = 0;
  EmitLocked("timer", "start");
}

void TerminalForm::StopRestartTimer() {
  std::lock_guard lock(mutex_);
  if (interrupted_) return;
  timer_running_ = false;
  EmitLocked("timer", "stop");
}

Status TerminalForm::SendFirmwareMessage() {
  const Status stopped =
      Status::Failure(ftp_code::kSendFile, "the update was stopped");
  if (interrupted_ || !upload_.send) return stopped;
  if (gate_) {
    {
      std::lock_guard lock(mutex_);
      queued_ = true;
    }
    const bool entered = gate_->Enter([this] { return interrupted_.load(); });
    {
      std::lock_guard lock(mutex_);
      queued_ = false;
    }
    if (!entered) return stopped;
  }
  const Status sent = SendNow();
  if (gate_) gate_->Leave();
  return sent;
}

Status TerminalForm::SendNow() {
  {
    std::lock_guard lock(mutex_);
    if (interrupted_) {
      return Status::Failure(ftp_code::kSendFile, "the update was stopped");
    }
    uploading_ = true;
    bytes_told_ = 0;
    Event event{device_, "upload", "", "", 0, upload_.total, std::nullopt};
    sink_(std::move(event));
  }
  const Status sent = upload_.send();
  std::lock_guard lock(mutex_);
  uploading_ = false;
  if (interrupted_) return sent;
  Event event{device_,       "uploaded",        "", "", upload_.bytes_sent(),
              upload_.total, sent.ok() ? 0 : -1};
  sink_(std::move(event));
  return sent;
}

void TerminalForm::Interrupt() {
  {
    std::lock_guard lock(mutex_);
    interrupted_ = true;
    timer_running_ = false;
  }
  if (gate_) gate_->Wake();
}

void TerminalForm::Tick(Clock::time_point now) {
  std::lock_guard lock(mutex_);
  if (interrupted_) return;
  if (timer_running_) {
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(now - timer_start_);
    while (ticks_ < seconds.count()) {
      status_ = "Restarting(" + std::to_string(++ticks_) + ")";
      EmitLocked("tick", status_);
    }
  }
  if (uploading_ && upload_.bytes_sent) {
    const std::uint64_t bytes = upload_.bytes_sent();
    if (bytes != bytes_told_) {
      bytes_told_ = bytes;
      sink_(
          Event{device_, "upload", "", "", bytes, upload_.total, std::nullopt});
    }
  }
}

TerminalForm::View TerminalForm::view() const {
  std::lock_guard lock(mutex_);
  return View{status_, queued_, uploading_, bytes_told_, upload_.total};
}

}  // namespace hj5::cli
