#include "cli/device_run.h"

#include "cli/cli_os.h"
#include "update/check_sequence.h"
#include "update/restore_sequence.h"
#include "update/update_sequence.h"

namespace hj5::cli {
namespace {

UpdateRunner::Procedure ProcedureOf(RunMode mode) {
  switch (mode) {
    case RunMode::kCheck:
      return &CheckSequence;
    case RunMode::kRestore:
      return &RestoreSequence;
    case RunMode::kUpdate:
      break;
  }
  return &UpdateSequence;
}

// A device that ends well, as its mode counts it.
bool Succeeded(RunMode mode, const UpdateOutcome& outcome) {
  if (outcome.stopped) return false;
  switch (mode) {
    case RunMode::kCheck:
      return outcome.completed && !outcome.found_in_update;
    case RunMode::kRestore:
      // A device not left in update only answered the identity query.
      if (!outcome.found_in_update) return outcome.failures.empty();
      return !outcome.may_be_left_in_update && outcome.answered_after_restart;
    case RunMode::kUpdate:
      break;
  }
  return outcome.completed;
}

std::string Result(RunMode mode, const UpdateOutcome& outcome) {
  const bool good = Succeeded(mode, outcome);
  if (outcome.stopped) return "stopped";
  switch (mode) {
    case RunMode::kCheck:
      if (!outcome.completed) return "refused";
      return outcome.found_in_update ? "in update" : "accepted";
    case RunMode::kRestore:
      if (!outcome.found_in_update) return good ? "not in update" : "refused";
      return good ? "restored" : "not restored";
    case RunMode::kUpdate:
      break;
  }
  return good ? "completed" : "failed";
}

}  // namespace

// One set of adapters, a form and a runner.
struct DeviceRun::Leg {
  Leg(const std::string& label, Output& output, DeviceLog* log,
      UpdateRunner::Procedure procedure)
      : form(label,
             [&output, log](Event event) {
               if (log) log->Write(event, UtcTimestamp());
               output.Emit(event);
             }),
        runner(form, platform.platform(), std::move(procedure)) {}

  ProductPlatform platform;
  TerminalForm form;
  UpdateRunner runner;
};

DeviceRun::DeviceRun(const PlannedDevice& device, const Plan& plan,
                     Output& output, std::unique_ptr<DeviceLog> log,
                     UploadGate* gate)
    : device_(device),
      plan_(plan),
      output_(output),
      log_(std::move(log)),
      run_(std::make_unique<Leg>(device.label, output, log_.get(),
                                 ProcedureOf(plan.mode))) {
  Leg& leg = *run_;
  leg.form.Attach({[&leg] { return leg.runner.SendFirmware(); },
                   [&leg] { return leg.platform.platform().ftp.BytesSent(); },
                   plan.file ? plan.file_size : 0},
                  gate);
}

DeviceRun::~DeviceRun() = default;

bool DeviceRun::Start() {
  started_ =
      run_->runner.Start(device_.session, plan_.file.value_or(ChosenFile{}));
  return started_;
}

bool DeviceRun::Ended() const {
  const Leg& leg = recovery_ ? *recovery_ : *run_;
  return leg.runner.state() != UpdateRunner::State::kRunning;
}

void DeviceRun::Tick(TerminalForm::Clock::time_point now) {
  (recovery_ ? *recovery_ : *run_).form.Tick(now);
}

LiveRow DeviceRun::Row() const {
  return {device_.label, (recovery_ ? *recovery_ : *run_).form.view()};
}

void DeviceRun::Stop() {
  stopped_ = true;
  run_->runner.Stop();
}

bool DeviceRun::Recover() {
  const std::optional<UpdateOutcome> outcome = run_->runner.outcome();
  if (!outcome || !outcome->may_be_left_in_update) return false;
  const bool restart_pending = outcome->restart_pending;
  recovery_ =
      std::make_unique<Leg>(device_.label, output_, log_.get(),
                            [restart_pending](const UpdateContext& context) {
                              return RecoverySequence(context, restart_pending);
                            });
  if (recovery_->runner.Start(device_.session, ChosenFile{})) return true;
  recovery_.reset();
  return false;
}

void DeviceRun::Abandon() {
  stopped_ = true;
  run_->runner.Stop();
  if (recovery_) recovery_->runner.Stop();
}

DeviceOutcome DeviceRun::Outcome() const {
  DeviceOutcome outcome;
  outcome.device = device_.label;
  outcome.update = run_->runner.outcome();
  if (!started_ || !outcome.update) {
    outcome.result = "failed";
    outcome.text = "Update Failure.";
    return outcome;
  }
  outcome.text = run_->form.view().status;
  outcome.result = Result(plan_.mode, *outcome.update);
  outcome.succeeded = Succeeded(plan_.mode, *outcome.update);
  if (recovery_) {
    outcome.recovery = recovery_->runner.outcome();
    outcome.text = recovery_->form.view().status;
    const bool restored = outcome.recovery && !outcome.recovery->stopped &&
                          !outcome.recovery->may_be_left_in_update;
    outcome.result = restored ? "restored" : "stopped";
  }
  return outcome;
}

}  // namespace hj5::cli
