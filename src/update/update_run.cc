#include "update/update_run.h"

#include "device/command_exchange.h"

namespace hj5 {

void UpdateRun::ShowStatus(const std::string& text) {
  form().SetFieldText(FieldId::kStatus, text);
}

bool UpdateRun::Step(UpdateStep step, std::uint32_t pause_ms,
                     const char* status, Command command) {
  Reached(step);
  if (pause_ms > 0) context_.platform.clock.SleepMs(pause_ms);
  ShowStatus(status);
  bool refused = false;
  const Status sent = CommandExchange(
      context_.device(), CommandBody(command, context_.session), &refused);
  Track(command, sent.ok(), refused);
  if (!sent.ok()) {
    ReportError(sent);
    return false;
  }
  return true;
}

// What the device may be left with, from the commands it took and those
// that failed without its saying so: lost on the way, or answered without
// a result, such a command may have been carried out.
void UpdateRun::Track(Command command, bool accepted, bool refused) {
  switch (command) {
    case Command::kFtpOn:
    case Command::kMarkForUpdate:
      switched_ |= !refused;
      break;
    case Command::kFtpOff:
      ftp_off_ |= accepted;
      break;
    case Command::kRestoreDeviceCode:
      code_restored_ |= accepted;
      break;
    case Command::kRestartDevice:
      // Unless it said no, the device may restart whatever its reply.
      outcome_.restart_pending |= !refused;
      if (!accepted) break;
      outcome_.answered_after_restart = false;
      settled_ |= ftp_off_ && code_restored_;
      break;
    default:
      break;
  }
}

void UpdateRun::ReportError(const Status& failure) {
  FormOps& form = this->form();
  Keep(failure);
  form.ShowFailureBox(failure);
  form.SetUpdateEnabled(true);
  form.SetFieldText(FieldId::kStatus, failure.text());
  form.SetFieldText(FieldId::kNotice, "");
}

void UpdateRun::Warn(int code, const std::string& text) {
  const Status failure = Status::Failure(code, text, "");
  Keep(failure);
  form().ShowFailureBox(failure);
}

void UpdateRun::End(BoxKind kind, const std::string& text, int code) {
  FormOps& form = this->form();
  form.SetFieldText(FieldId::kNotice, "");
  form.SetFieldText(FieldId::kStatus, text);
  if (kind == BoxKind::kWarning) {
    Warn(code, text);
  } else {
    form.ShowBox(kind, text, "");
  }
  form.SetUpdateEnabled(true);
}

void UpdateRun::Keep(const Status& failure) {
  if (!failure.ok() && !failure.text().empty())
    outcome_.failures.push_back(failure);
}

UpdateOutcome UpdateRun::Finish() const {
  UpdateOutcome outcome = outcome_;
  outcome.may_be_left_in_update = switched_ && !settled_;
  return outcome;
}

}  // namespace hj5
