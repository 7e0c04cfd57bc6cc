#include "fleet/record_json.h"

#include <cstdio>

namespace hj5::fleet {
namespace {

nlohmann::ordered_json Failures(const UpdateOutcome& outcome) {
  nlohmann::ordered_json failures = nlohmann::ordered_json::array();
  for (const Status& failure : outcome.failures) {
    failures.push_back({{"text", failure.text()},
                        {"cause", failure.cause()},
                        {"code", failure.code()}});
  }
  return failures;
}

}  // namespace

std::string UtcText(WallTime time) {
  using namespace std::chrono;
  const auto ms = floor<milliseconds>(time);
  const auto day = floor<days>(ms);
  const year_month_day date(day);
  const hh_mm_ss clock(ms - day);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ",
                static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()),
                static_cast<int>(clock.hours().count()),
                static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()),
                static_cast<int>(clock.subseconds().count()));
  return text;
}

const char* EventKindName(EventKind kind) {
  switch (kind) {
    case EventKind::kStatus:
      return "status";
    case EventKind::kNotice:
      return "notice";
    case EventKind::kWarning:
      return "warning";
    case EventKind::kInformation:
      return "information";
    case EventKind::kTimerStart:
    case EventKind::kTimerStop:
      return "timer";
    case EventKind::kTick:
      return "tick";
    case EventKind::kUpload:
      return "upload";
    case EventKind::kUploaded:
      return "uploaded";
  }
  return "?";
}

std::string EventText(const Event& event) {
  if (event.kind == EventKind::kTimerStart) return "start";
  if (event.kind == EventKind::kTimerStop) return "stop";
  return event.text;
}

nlohmann::ordered_json DeviceJson(const DeviceOutcome& outcome) {
  nlohmann::ordered_json entry = {{"device", outcome.device},
                                  {"result", ResultName(outcome.result)},
                                  {"text", outcome.text},
                                  {"succeeded", outcome.succeeded},
                                  {"left_in_update", outcome.left_in_update()}};
  if (outcome.update) {
    entry["step"] = StepName(outcome.update->reached);
    entry["answered_after_restart"] = outcome.update->answered_after_restart;
    entry["found_in_update"] = outcome.update->found_in_update;
    entry["partial_upload"] = outcome.update->partial_upload;
    entry["failures"] = Failures(*outcome.update);
  }
  if (outcome.recovery) entry["recovery"] = Failures(*outcome.recovery);
  if (outcome.started()) entry["seconds"] = outcome.seconds;
  return entry;
}

nlohmann::ordered_json StoppedByJson(const RunReport& report) {
  if (!report.stop) return nullptr;
  switch (*report.stop) {
    case HaltReason::kCanary:
      return "canary";
    case HaltReason::kBudget:
      return "budget";
    case HaltReason::kWindow:
      return "window";
    case HaltReason::kRecord:
      return "record";
    default:
      return nullptr;
  }
}

nlohmann::ordered_json SummaryJson(const RunReport& report, int exit_status,
                                   WallTime time) {
  nlohmann::ordered_json devices = nlohmann::ordered_json::array();
  for (const DeviceOutcome& outcome : report.outcomes)
    devices.push_back(DeviceJson(outcome));
  nlohmann::ordered_json summary = {
      {"time", UtcText(time)},
      {"kind", "summary"},
      {"exit", exit_status},
      {"interrupted", report.interrupted},
      {"stopped_by", StoppedByJson(report)},
      {"succeeded", report.Count(true, true)},
      {"failed", report.Count(true, false)},
      {"not_started", report.Count(false, false)}};
  if (report.max_failures) summary["max_failures"] = *report.max_failures;
  if (!report.record_failure.empty())
    summary["record_incomplete"] = report.record_failure;
  if (report.stop == HaltReason::kWindow)
    summary["window_overrun_seconds"] = report.window_overrun_seconds;
  summary["devices"] = std::move(devices);
  return summary;
}

std::string JsonLineOf(const nlohmann::ordered_json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace hj5::fleet
