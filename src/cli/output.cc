#include "cli/output.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/report_json.h"

namespace hj5::cli {
namespace {

std::string Percent(std::uint64_t bytes, std::uint64_t total) {
  const std::uint64_t percent = total == 0 ? 100 : bytes * 100 / total;
  return std::to_string(std::min<std::uint64_t>(percent, 100)) + "%";
}

// How often plain output tells the run's progress.
constexpr std::chrono::seconds kProgressEvery{5};

std::string LiveLine(const LiveRow& row, std::size_t width) {
  std::string line = row.device + "  " + row.view.status;
  if (row.view.queued) line += "  upload queued";
  if (row.view.uploading)
    line += "  upload " + Percent(row.view.bytes, row.view.total);
  if (line.size() > width) line.resize(width);
  return line;
}

// An event as a plain line; empty for those plain output leaves out.
std::string PlainLine(const Event& event, const std::string& time) {
  if (event.kind == "tick") return "";
  if (event.kind == "notice" && event.text.empty()) return "";
  if (event.kind == "upload" && event.bytes.value_or(0) != 0) return "";
  std::string line = time;
  line.append(" ").append(event.device).append(" ").append(event.kind);
  if (event.kind == "upload" || event.kind == "uploaded") {
    line.append(" ").append(std::to_string(*event.bytes)).append("/");
    line.append(std::to_string(*event.total)).append(" bytes");
    if (event.result) line += ", result " + std::to_string(*event.result);
  }
  if (!event.text.empty()) line += " " + event.text;
  if (!event.cause.empty()) line += " (" + event.cause + ")";
  return line;
}

// Whether a live display keeps the event as a line of its own: the boxes the
// form would have shown; the summary tells how each device ended.
bool KeptLive(const Event& event) {
  return event.kind == "warning" || event.kind == "information";
}

// One JSON object a line; a byte that is no part of valid UTF-8 (texts from
// devices and servers may hold any) becomes U+FFFD.
void WriteJson(std::ostream& out, const nlohmann::ordered_json& object) {
  out << object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
      << "\n"
      << std::flush;
}

nlohmann::ordered_json Failures(const UpdateOutcome& outcome) {
  nlohmann::ordered_json failures = nlohmann::ordered_json::array();
  for (const Status& failure : outcome.failures)
    failures.push_back({{"text", failure.text()}, {"cause", failure.cause()}});
  return failures;
}

}  // namespace

std::string JsonLineOf(const nlohmann::ordered_json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

nlohmann::ordered_json DeviceJson(const DeviceOutcome& outcome) {
  nlohmann::ordered_json entry = {{"device", outcome.device},
                                  {"result", outcome.result},
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
  return entry;
}

namespace {

std::string Padded(std::string text, std::size_t width) {
  if (text.size() < width) text.resize(width, ' ');
  return text;
}

}  // namespace

Output::Output(OutputMode mode, std::ostream& out,
               std::function<std::string()> timestamp, std::size_t live_width)
    : mode_(mode),
      out_(out),
      timestamp_(std::move(timestamp)),
      live_width_(live_width) {}

void Output::EmitJsonLocked(const Event& event, const std::string& time) {
  nlohmann::ordered_json object = {{"device", event.device},
                                   {"time", time},
                                   {"kind", event.kind},
                                   {"text", event.text},
                                   {"cause", event.cause}};
  if (event.bytes) object["bytes"] = *event.bytes;
  if (event.total) object["total"] = *event.total;
  if (event.result) object["result"] = *event.result;
  WriteJson(out_, object);
}

void Output::Emit(const Event& event) {
  const std::string time = timestamp_();
  std::lock_guard lock(mutex_);
  switch (mode_) {
    case OutputMode::kJson:
      EmitJsonLocked(event, time);
      break;
    case OutputMode::kPlain:
      if (std::string line = PlainLine(event, time); !line.empty())
        out_ << line << "\n" << std::flush;
      break;
    case OutputMode::kLive:
      if (KeptLive(event)) {
        std::string line = event.device + "  " + event.text;
        if (!event.cause.empty()) line += " (" + event.cause + ")";
        KeepLocked(line);
      }
      break;
  }
}

void Output::Note(const std::string& text) {
  const std::string time = timestamp_();
  std::lock_guard lock(mutex_);
  if (mode_ == OutputMode::kJson) {
    WriteJson(out_, {{"time", time}, {"kind", "note"}, {"text", text}});
  } else if (mode_ == OutputMode::kPlain) {
    out_ << time << " " << text << "\n" << std::flush;
  } else {
    KeepLocked(text);
  }
}

void Output::EraseLiveLocked() {
  for (std::size_t i = 0; i < live_.size(); ++i) out_ << "\x1b[1A\x1b[2K";
  out_ << "\r";
}

void Output::DrawLiveLocked() {
  for (const std::string& line : live_) out_ << line << "\n";
  out_ << std::flush;
}

void Output::KeepLocked(const std::string& line) {
  EraseLiveLocked();
  out_ << line << "\n";
  DrawLiveLocked();
}

void Output::Live(const std::vector<LiveRow>& rows,
                  const std::string& progress) {
  if (mode_ == OutputMode::kPlain) {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex_);
    if (now - last_progress_ < kProgressEvery) return;
    last_progress_ = now;
    out_ << timestamp_() << " progress " << progress << "\n" << std::flush;
    return;
  }
  if (mode_ != OutputMode::kLive) return;
  std::vector<std::string> lines;
  lines.push_back(progress.substr(0, live_width_));
  for (const LiveRow& row : rows) lines.push_back(LiveLine(row, live_width_));
  std::lock_guard lock(mutex_);
  if (lines == live_) return;
  EraseLiveLocked();
  live_ = std::move(lines);
  DrawLiveLocked();
}

std::size_t RunReport::Count(bool started, bool succeeded) const {
  return static_cast<std::size_t>(std::count_if(
      outcomes.begin(), outcomes.end(), [&](const DeviceOutcome& outcome) {
        return (outcome.result != "not started") == started &&
               outcome.succeeded == succeeded;
      }));
}

namespace {

const char* StopName(RunStop stop) {
  switch (stop) {
    case RunStop::kCanary:
      return "canary";
    case RunStop::kBudget:
      return "budget";
    case RunStop::kNone:
      break;
  }
  return nullptr;
}

// "\n  device" for each device `pick` chooses.
template <typename Pick>
std::string Listed(const RunReport& report, Pick pick) {
  std::string list;
  for (const DeviceOutcome& outcome : report.outcomes)
    if (pick(outcome)) list += "\n  " + outcome.device;
  return list;
}

}  // namespace

void Output::SummaryTableLocked(const RunReport& report) {
  std::size_t width = 6;
  for (const DeviceOutcome& outcome : report.outcomes)
    width = std::max(width, outcome.device.size());
  out_ << "\n"
       << Padded("device", width) << "  " << Padded("result", 13)
       << "  last text\n";
  for (const DeviceOutcome& outcome : report.outcomes) {
    out_ << Padded(outcome.device, width) << "  " << Padded(outcome.result, 13)
         << "  " << outcome.text << "\n";
  }
  const std::size_t succeeded = report.Count(true, true);
  const std::size_t failed = report.Count(true, false);
  const std::size_t not_started = report.Count(false, false);
  out_ << succeeded << " of " << report.outcomes.size()
       << " devices succeeded; " << failed << " failed, " << not_started
       << " not started\n";
  if (report.stop == RunStop::kCanary) {
    out_ << "Stopped by the canary: a canary failed, so no other device "
            "was started.\n";
  } else if (report.stop == RunStop::kBudget) {
    out_ << "Stopped by the failure budget: " << failed
         << " failed, more than the " << *report.max_failures
         << " allowed; no further device was started.\n";
  }
  const std::string left =
      Listed(report, [](const DeviceOutcome& o) { return o.left_in_update(); });
  if (!left.empty()) {
    out_ << "May be left with FTP on or user9 \"UPDATE\" (hj5-update "
            "--restore repairs them; the next update accepts them):"
         << left << "\n";
  }
  const std::string partial =
      Listed(report, [](const DeviceOutcome& o) { return o.partial_upload(); });
  if (!partial.empty()) {
    out_ << "May hold part of the file (its upload was cut short):" << partial
         << "\n";
  }
}

nlohmann::ordered_json SummaryJson(const RunReport& report, int exit_status,
                                   const std::string& time) {
  nlohmann::ordered_json devices = nlohmann::ordered_json::array();
  for (const DeviceOutcome& outcome : report.outcomes)
    devices.push_back(DeviceJson(outcome));
  const char* stopped_by = StopName(report.stop);
  return {{"time", time},
          {"kind", "summary"},
          {"exit", exit_status},
          {"interrupted", report.interrupted},
          {"stopped_by", stopped_by ? nlohmann::ordered_json(stopped_by)
                                    : nlohmann::ordered_json()},
          {"succeeded", report.Count(true, true)},
          {"failed", report.Count(true, false)},
          {"not_started", report.Count(false, false)},
          {"devices", devices}};
}

void Output::Summary(const RunReport& report, int exit_status) {
  std::lock_guard lock(mutex_);
  if (mode_ == OutputMode::kJson) {
    WriteJson(out_, SummaryJson(report, exit_status, timestamp_()));
    return;
  }
  if (mode_ == OutputMode::kLive) {
    EraseLiveLocked();
    live_.clear();
  }
  SummaryTableLocked(report);
  out_ << std::flush;
}

}  // namespace hj5::cli
