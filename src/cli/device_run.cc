#include "cli/device_run.h"

#include "update/check_sequence.h"
#include "update/update_sequence.h"

namespace hj5::cli {
namespace {

std::string Result(const Plan& plan, const UpdateOutcome& outcome) {
  if (outcome.stopped) return "stopped";
  if (plan.check) return outcome.completed ? "accepted" : "refused";
  return outcome.completed ? "completed" : "failed";
}

}  // namespace

DeviceRun::DeviceRun(const PlannedDevice& device, const Plan& plan,
                     Output& output)
    : device_(device),
      plan_(plan),
      form_(device.label, [&output](Event event) { output.Emit(event); }),
      runner_(form_, platform_.platform(),
              plan.check ? &CheckSequence : &UpdateSequence) {
  form_.Attach({[this] { return runner_.SendFirmware(); },
                [this] { return platform_.platform().ftp.BytesSent(); },
                plan.file ? plan.file_size : 0});
}

bool DeviceRun::Start() {
  started_ = runner_.Start(device_.session, plan_.file.value_or(ChosenFile{}));
  return started_;
}

bool DeviceRun::Ended() const {
  return runner_.state() != UpdateRunner::State::kRunning;
}

void DeviceRun::Stop() { runner_.Stop(); }

DeviceOutcome DeviceRun::Outcome() const {
  DeviceOutcome outcome;
  outcome.device = device_.label;
  outcome.update = runner_.outcome();
  if (!started_ || !outcome.update) {
    outcome.result = "failed";
    outcome.text = "Update Failure.";
    return outcome;
  }
  outcome.text = form_.view().status;
  outcome.result = Result(plan_, *outcome.update);
  outcome.succeeded = outcome.update->completed && !outcome.update->stopped;
  return outcome;
}

}  // namespace hj5::cli
