#include "fleet/fleet_form.h"

#include <utility>

#include "platform/ftp_client.h"

namespace hj5::fleet {
namespace {

Status Stopped() {
  return Status::Failure(ftp_code::kSendFile, "the update was stopped");
}

}  // namespace

FleetForm::FleetForm(FleetClock& clock, Sink sink)
    : clock_(clock), sink_(std::move(sink)) {}

void FleetForm::Attach(Upload upload, UploadGate* gate) {
  upload_ = std::move(upload);
  gate_ = gate;
}

void FleetForm::EmitLocked(EventKind kind, std::string text, std::string cause,
                           int code) {
  Event event;
  event.kind = kind;
  event.text = std::move(text);
  event.cause = std::move(cause);
  event.code = code;
  event.time = clock_.WallNow();
  sink_(event);
}

void FleetForm::ShowBox(BoxKind kind, const std::string& text,
                        const std::string& cause) {
  std::lock_guard lock(mutex_);
  if (interrupted_) return;
  EmitLocked(kind == BoxKind::kInformation ? EventKind::kInformation
                                           : EventKind::kWarning,
             text, cause);
}

void FleetForm::ShowFailureBox(const Status& failure) {
  std::lock_guard lock(mutex_);
  if (interrupted_) return;
  EmitLocked(EventKind::kWarning, failure.text(), failure.cause(),
             failure.code());
}

void FleetForm::SetFieldText(FieldId field, const std::string& text) {
  std::lock_guard lock(mutex_);
  if (interrupted_) return;
  if (field == FieldId::kStatus) {
    status_ = text;
    EmitLocked(EventKind::kStatus, text);
  } else if (field == FieldId::kNotice) {
    EmitLocked(EventKind::kNotice, text);
  }
}

void FleetForm::StartRestartTimer() {
  std::lock_guard lock(mutex_);
  if (interrupted_) return;
  timer_running_ = true;
  timer_start_ = clock_.Now();
  ticks_ = 0;
  EmitLocked(EventKind::kTimerStart);
}

void FleetForm::StopRestartTimer() {
  std::lock_guard lock(mutex_);
  if (interrupted_) return;
  timer_running_ = false;
  EmitLocked(EventKind::kTimerStop);
}

Status FleetForm::SendFirmwareMessage() {
  if (interrupted_ || !upload_.send) return Stopped();
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
    if (!entered) return Stopped();
  }
  const Status sent = SendNow();
  if (gate_) gate_->Leave();
  return sent;
}

Status FleetForm::SendNow() {
  {
    std::lock_guard lock(mutex_);
    if (interrupted_) return Stopped();
    uploading_ = true;
    bytes_told_ = 0;
    Event event{EventKind::kUpload, "", "", 0, 0, upload_.total,
                clock_.WallNow()};
    sink_(event);
  }
  const Status sent = upload_.send();
  std::lock_guard lock(mutex_);
  uploading_ = false;
  if (interrupted_) return sent;
  Event event{EventKind::kUploaded,
              "",
              "",
              sent.code(),
              upload_.bytes_sent(),
              upload_.total,
              clock_.WallNow()};
  sink_(event);
  return sent;
}

void FleetForm::Interrupt() {
  {
    std::lock_guard lock(mutex_);
    interrupted_ = true;
    timer_running_ = false;
  }
  if (gate_) gate_->Wake();
}

void FleetForm::Tick(SteadyTime now) {
  std::lock_guard lock(mutex_);
  if (interrupted_) return;
  if (timer_running_) {
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(now - timer_start_);
    while (ticks_ < seconds.count()) {
      status_ = "Restarting(" + std::to_string(++ticks_) + ")";
      EmitLocked(EventKind::kTick, status_);
    }
  }
  if (uploading_ && upload_.bytes_sent) {
    const std::uint64_t bytes = upload_.bytes_sent();
    if (bytes != bytes_told_) {
      bytes_told_ = bytes;
      sink_(Event{EventKind::kUpload, "", "", 0, bytes, upload_.total,
                  clock_.WallNow()});
    }
  }
}

DeviceView FleetForm::view() const {
  std::lock_guard lock(mutex_);
  return DeviceView{status_, queued_, uploading_, bytes_told_, upload_.total};
}

}  // namespace hj5::fleet
