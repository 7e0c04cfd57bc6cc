#include "cli/device_run.h"

#include <filesystem>

#include "device/identity_check.h"
#include "update/update_sequence.h"

namespace hj5::cli {
namespace {

std::uint64_t FileSize(const std::optional<ChosenFile>& file) {
  if (!file) return 0;
  std::error_code error;
  // The path is UTF-8 on every system.
  const std::u8string utf8(file->path.begin(), file->path.end());
  const std::uintmax_t size = std::filesystem::file_size(utf8, error);
  return error ? 0 : static_cast<std::uint64_t>(size);
}

}  // namespace

DeviceRun::DeviceRun(const PlannedDevice& device, const Plan& plan,
                     Output& output)
    : device_(device),
      plan_(plan),
      form_(device.label, [&output](Event event) { output.Emit(event); }),
      runner_(form_, platform_.platform(),
              plan.check ? UpdateRunner::Procedure(
                               [this](const UpdateContext& context) {
                                 return Check(context);
                               })
                         : UpdateRunner::Procedure(&UpdateSequence)) {
  form_.Attach(&runner_.causes(),
               {[this] { return runner_.SendFirmware(); },
                [this] { return platform_.platform().ftp.BytesSent(); },
                FileSize(plan.file)});
}

int DeviceRun::Check(const UpdateContext& context) {
  const int result = IdentityCheck(context);
  check_result_.store(result);
  return result;
}

bool DeviceRun::Start() {
  started_ = runner_.Start(device_.session, plan_.file.value_or(ChosenFile{}));
  return started_;
}

bool DeviceRun::Ended() const {
  return runner_.state() != UpdateRunner::State::kRunning;
}

void DeviceRun::Stop() {
  stopped_.store(true);
  runner_.Stop();
}

DeviceOutcome DeviceRun::Outcome() const {
  DeviceOutcome outcome;
  outcome.device = device_.label;
  outcome.text = form_.view().status;
  outcome.left_in_update = form_.left_in_update();
  if (!started_) {
    outcome.result = "failed";
    outcome.text = "Update Failure.";
  } else if (stopped_.load()) {
    outcome.result = "stopped";
  } else if (plan_.check) {
    outcome.succeeded = check_result_.load() == 0;
    outcome.result = outcome.succeeded ? "accepted" : "refused";
  } else {
    outcome.succeeded = form_.completed();
    outcome.result = outcome.succeeded ? "completed" : "failed";
  }
  return outcome;
}

}  // namespace hj5::cli
