#include "cli/terminal_form.h"

#include <utility>

namespace hj5::cli {

TerminalForm::TerminalForm(std::string device, Sink sink)
    : device_(std::move(device)), sink_(std::move(sink)) {}

void TerminalForm::Attach(CauseLog* causes, Upload upload) {
  causes_ = causes;
  upload_ = std::move(upload);
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

// The cause the runner kept for the failure `text` tells, once.
std::string TerminalForm::CauseOfLocked(const std::string& text) {
  if (!causes_) return "";
  const std::vector<CauseLog::Entry> entries = causes_->Entries();
  for (std::size_t i = causes_used_; i < entries.size(); ++i) {
    if (entries[i].text == text) {
      causes_used_ = i + 1;
      return entries[i].cause;
    }
  }
  return "";
}

void TerminalForm::ShowBox(BoxKind kind, const std::string& text) {
  std::lock_guard lock(mutex_);
  if (interrupted_) return;
  last_box_ = text;
  last_box_information_ = kind == BoxKind::kInformation;
  EmitLocked(last_box_information_ ? "information" : "warning", text,
             CauseOfLocked(text));
}

void TerminalForm::SetFieldText(FieldId field, const std::string& text) {
  std::lock_guard lock(mutex_);
  if (interrupted_) return;
  if (field == FieldId::kStatus) {
    status_ = text;
    ftp_switched_ |= text == "Processing(1)";
    restoring_ |= text == "Processing(7)";
    EmitLocked("status", text);
  } else if (field == FieldId::kNotice) {
    notice_ = text;
    EmitLocked("notice", text);
  }
}

std::string TerminalForm::FieldText(FieldId field) {
  std::lock_guard lock(mutex_);
  if (interrupted_) return "";
  if (field == FieldId::kStatus) return status_;
  if (field == FieldId::kNotice) return notice_;
  return "";
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
  restored_ |= restoring_;
  EmitLocked("timer", "stop");
}

int TerminalForm::SendFirmwareMessage() {
  {
    std::lock_guard lock(mutex_);
    if (interrupted_ || !upload_.send) return -1;
    uploading_ = true;
    bytes_told_ = 0;
    Event event{device_, "upload", "", "", 0, upload_.total, std::nullopt};
    sink_(std::move(event));
  }
  const int result = upload_.send();
  std::lock_guard lock(mutex_);
  uploading_ = false;
  if (interrupted_) return -1;
  Event event{device_,       "uploaded", "", "", upload_.bytes_sent(),
              upload_.total, result};
  sink_(std::move(event));
  return result;
}

void TerminalForm::Interrupt() {
  std::lock_guard lock(mutex_);
  interrupted_ = true;
  timer_running_ = false;
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
  return View{status_, uploading_, bytes_told_, upload_.total};
}

bool TerminalForm::completed() const {
  std::lock_guard lock(mutex_);
  return last_box_information_ && last_box_ == "Update completed.";
}

bool TerminalForm::left_in_update() const {
  std::lock_guard lock(mutex_);
  return ftp_switched_ && !restored_;
}

}  // namespace hj5::cli
