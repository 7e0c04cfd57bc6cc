#include "fleet/outcome.h"

#include <algorithm>
#include <array>
#include <utility>

namespace hj5::fleet {
namespace {

constexpr std::array<std::pair<Result, const char*>, 11> kNames = {{
    {Result::kNotStarted, "not started"},
    {Result::kCompleted, "completed"},
    {Result::kFailed, "failed"},
    {Result::kCompletedBefore, "completed before"},
    {Result::kAccepted, "accepted"},
    {Result::kInUpdate, "in update"},
    {Result::kRefused, "refused"},
    {Result::kNotInUpdate, "not in update"},
    {Result::kRestored, "restored"},
    {Result::kNotRestored, "not restored"},
    {Result::kStopped, "stopped"},
}};

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

Result ResultOf(RunMode mode, const UpdateOutcome& outcome, bool good) {
  if (outcome.stopped) return Result::kStopped;
  switch (mode) {
    case RunMode::kCheck:
      if (!outcome.completed) return Result::kRefused;
      return outcome.found_in_update ? Result::kInUpdate : Result::kAccepted;
    case RunMode::kRestore:
      if (!outcome.found_in_update)
        return good ? Result::kNotInUpdate : Result::kRefused;
      return good ? Result::kRestored : Result::kNotRestored;
    case RunMode::kUpdate:
      break;
  }
  return good ? Result::kCompleted : Result::kFailed;
}

}  // namespace

const char* ResultName(Result result) {
  for (const auto& [value, name] : kNames)
    if (value == result) return name;
  return "?";
}

std::optional<Result> ResultNamed(const std::string& name) {
  for (const auto& [value, text] : kNames)
    if (name == text) return value;
  return std::nullopt;
}

DeviceOutcome Judge(RunMode mode, const std::string& device,
                    const DeviceLegs& legs) {
  DeviceOutcome outcome;
  outcome.device = device;
  outcome.update = legs.update;
  if (!legs.started || !legs.update) {
    // No worker could be started: nothing was sent.
    outcome.result = Result::kFailed;
    outcome.text = "Update Failure.";
    return outcome;
  }
  outcome.text = legs.status;
  outcome.succeeded = Succeeded(mode, *legs.update);
  outcome.result = ResultOf(mode, *legs.update, outcome.succeeded);
  if (legs.recovered) {
    outcome.recovery = legs.recovery;
    outcome.text = legs.recovery_status;
    const bool restored = legs.recovery && !legs.recovery->stopped &&
                          !legs.recovery->may_be_left_in_update;
    outcome.result = restored ? Result::kRestored : Result::kStopped;
  }
  return outcome;
}

std::size_t RunReport::Count(bool started, bool succeeded) const {
  return static_cast<std::size_t>(std::count_if(
      outcomes.begin(), outcomes.end(), [&](const DeviceOutcome& outcome) {
        return outcome.started() == started && outcome.succeeded == succeeded;
      }));
}

int ExitStatus(const RunReport& report) {
  if (report.signal_status != 0) return report.signal_status;
  if (!report.record_failure.empty()) return exit_status::kRecordIncomplete;
  if (report.stop == HaltReason::kCanary || report.stop == HaltReason::kBudget)
    return exit_status::kHalted;
  if (report.Count(true, false) > 0) return exit_status::kSomeFailed;
  if (report.stop == HaltReason::kWindow) return exit_status::kWindowClosed;
  return exit_status::kAllSucceeded;
}

}  // namespace hj5::fleet
