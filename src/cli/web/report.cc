#include "cli/web/report.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <vector>

#include "cli/summary_text.h"
#include "cli/web/page.h"
#include "fleet/outcome.h"
#include "fleet/run_record.h"
#include "platform/own_folder.h"

namespace hj5::cli::web {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::size_t kLogLimit = 4 << 20;
constexpr std::size_t kSummaryLimit = 64 << 20;
// The chart's points, at most.
constexpr std::int64_t kChartPoints = 400;

struct Device {
  std::string label;
  Json columns = Json::array();
  Json line;  // its latest journal line, or null
  Json events = Json::array();
  std::optional<std::int64_t> first_ms;  // its first logged event
  std::optional<std::int64_t> end_ms;    // its journal line's time
};

// One log line, "TIME KIND[ N/M bytes[, result R]][ TEXT][ (CAUSE)][ [CODE]]",
// as the page's event [t_ms, kind, text, cause, code]; null for the lines a
// report leaves out (the restart counter, upload byte counts).
Json LogEvent(std::string_view line, std::int64_t started_ms,
              std::optional<std::int64_t>* first_ms) {
  const std::size_t space = line.find(' ');
  const std::optional<std::int64_t> at =
      UtcMs(std::string(line.substr(0, space)));
  if (!at || space == std::string_view::npos) return nullptr;
  if (!*first_ms) *first_ms = at;
  line.remove_prefix(space + 1);
  const std::size_t kind_end = std::min(line.find(' '), line.size());
  const std::string kind(line.substr(0, kind_end));
  std::string rest(line.substr(std::min(kind_end + 1, line.size())));
  if (kind == "timer" || (kind == "notice" && rest.empty())) return nullptr;
  int code = 0;
  if (kind == "upload" || kind == "uploaded") {
    if (kind == "upload" && !rest.starts_with("0/")) return nullptr;
    const std::size_t result = rest.find(", result ");
    if (result != std::string::npos) {
      code = std::atoi(rest.c_str() + result + 9);
      rest.erase(result);
    }
  } else if (rest.ends_with("]") && rest.rfind(" [") != std::string::npos) {
    const std::size_t open = rest.rfind(" [");
    code = std::atoi(rest.c_str() + open + 2);
    rest.erase(open);
  }
  std::string cause;
  if (const std::size_t open = rest.find(" (");
      open != std::string::npos && rest.ends_with(")")) {
    cause = rest.substr(open + 2, rest.size() - open - 3);
    rest.erase(open);
  }
  Json event = {*at - started_ms, kind, rest};
  if (!cause.empty() || code != 0) event.push_back(cause);
  if (code != 0) event.push_back(code);
  return event;
}

// Completed, failed and running over the run, from when each device began
// and ended.
Json Chart(const std::vector<Device>& devices, std::int64_t started_ms,
           std::int64_t ended_ms) {
  const std::int64_t span = std::max<std::int64_t>(ended_ms - started_ms, 1);
  const std::int64_t step = std::max<std::int64_t>(2000, span / kChartPoints);
  Json chart = Json::array();
  for (std::int64_t t = 0;; t = std::min(t + step, span)) {
    std::size_t completed = 0, failed = 0, running = 0;
    for (const Device& d : devices) {
      const std::int64_t now = started_ms + t;
      if (d.end_ms && *d.end_ms <= now) {
        (d.line.value("succeeded", false) ? completed : failed) += 1;
      } else if (d.first_ms && *d.first_ms <= now) {
        ++running;
      }
    }
    chart.push_back({t, completed, failed, running});
    if (t == span) return chart;
  }
}

// The devices of the record: run.json's list (every device of the run,
// with the operator's columns), else those its journal names.
std::vector<Device> Devices(const Json& run, const Json& journal) {
  std::vector<Device> devices;
  std::map<std::string, std::size_t> by_label;
  const Json listed = run.value("devices", Json::array());
  for (const Json& entry : listed) {
    if (!entry.is_array() || entry.size() < 2 || !entry[0].is_string())
      continue;
    by_label[entry[0]] = devices.size();
    devices.push_back({entry[0], entry[1], nullptr, Json::array(), {}, {}});
  }
  for (const Json& line : journal) {
    const std::string label = line.value("device", std::string());
    auto [at, added] = by_label.emplace(label, devices.size());
    if (added)
      devices.push_back({label, Json::array(), nullptr, Json::array(), {}, {}});
    Device& device = devices[at->second];
    device.line = line;
    device.end_ms = UtcMs(line.value("time", std::string()));
  }
  return devices;
}

// The file's name without its folders (run.json keeps the path given).
std::string BareName(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

Json ParsedLines(const std::string& text) {
  Json lines = Json::array();
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos;
       start = end + 1) {
    Json line = Json::parse(text.substr(start, end - start), nullptr, false);
    if (line.is_object()) lines.push_back(std::move(line));
  }
  return lines;
}

// The banner in the summary's own words; for a run without a summary,
// what is known.
Json Banner(const Json& summary, const std::vector<Device>& devices) {
  if (!summary.is_object()) {
    std::size_t never = 0;
    for (const Device& d : devices) never += d.line.is_null() && d.first_ms;
    return "The run ended without its summary (killed, or still running): " +
           std::to_string(never) + " devices began and never ended.";
  }
  fleet::RunReport report;
  for (const Device& d : devices) {
    fleet::DeviceOutcome outcome;
    if (!d.line.is_null()) {
      outcome.result = fleet::ResultNamed(d.line.value("result", ""))
                           .value_or(fleet::Result::kFailed);
      outcome.succeeded = d.line.value("succeeded", false);
    }
    report.outcomes.push_back(outcome);
  }
  const std::string stop = summary.value("stopped_by", Json()).is_string()
                               ? summary["stopped_by"].get<std::string>()
                               : "";
  if (stop == "canary") report.stop = fleet::HaltReason::kCanary;
  if (stop == "budget") report.stop = fleet::HaltReason::kBudget;
  if (stop == "record") report.stop = fleet::HaltReason::kRecord;
  if (stop == "window") report.stop = fleet::HaltReason::kWindow;
  if (summary.contains("max_failures"))
    report.max_failures = summary["max_failures"].get<std::size_t>();
  report.window_overrun_seconds = summary.value("window_overrun_seconds", 0.0);
  std::string sentence = StopSentence(report);
  if (sentence.empty() && summary.value("interrupted", false))
    sentence = "Stopped by the operator: no further device was started.";
  return sentence.empty() ? Json() : Json(sentence);
}

}  // namespace

std::optional<std::int64_t> UtcMs(const std::string& text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
  char z = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d%c", &y, &mo, &d,
                  &h, &mi, &s, &ms, &z) != 8 ||
      z != 'Z')
    return std::nullopt;
  using namespace std::chrono;
  const sys_days day =
      year_month_day(year(y), month(static_cast<unsigned>(mo)),
                     std::chrono::day(static_cast<unsigned>(d)));
  return duration_cast<milliseconds>(day.time_since_epoch()).count() +
         ((h * 60 + mi) * 60 + s) * 1000LL + ms;
}

Status ReportData(const std::string& dir, Json* data) {
  std::unique_ptr<OwnFolder> folder;
  if (Status opened = OwnFolder::Open(dir, FolderUse::kRead, &folder);
      !opened.ok())
    return opened;
  std::string text;
  if (Status read =
          folder->Read("run.json", fleet::RunRecord::kRunJsonLimit, &text);
      !read.ok())
    return Status::Failure(read.code(),
                           dir + ": no run's record: " + read.cause());
  const Json run = Json::parse(text, nullptr, false);
  if (!run.is_object())
    return Status::Failure(-1, dir + ": run.json does not parse");
  Json journal = Json::array();
  if (folder->Read("journal.jsonl", fleet::RunRecord::kJournalLimit, &text)
          .ok())
    journal = ParsedLines(text);
  Json summary;
  if (folder->Read("summary.json", kSummaryLimit, &text).ok())
    summary = Json::parse(text, nullptr, false);
  std::vector<Device> devices = Devices(run, journal);
  const std::int64_t started = UtcMs(run.value("started", "")).value_or(0);
  std::int64_t ended = started;
  std::unique_ptr<OwnFolder> logs;
  const bool has_logs = folder->Sub("logs", &logs).ok();
  for (std::size_t i = 0; i < devices.size(); ++i) {
    Device& device = devices[i];
    if (has_logs &&
        logs->Read(fleet::DeviceLogName(i, device.label), kLogLimit, &text)
            .ok()) {
      for (std::size_t start = 0, end;
           (end = text.find('\n', start)) != std::string::npos;
           start = end + 1) {
        Json event = LogEvent(std::string_view(text).substr(start, end - start),
                              started, &device.first_ms);
        if (!event.is_null()) device.events.push_back(std::move(event));
      }
    }
    if (device.end_ms) ended = std::max(ended, *device.end_ms);
    if (device.events.size() > 0)
      ended = std::max(ended,
                       started + device.events.back()[0].get<std::int64_t>());
  }
  if (summary.is_object())
    ended = std::max(ended, UtcMs(summary.value("time", "")).value_or(ended));
  std::size_t done = 0, succeeded = 0;
  Json rows = Json::array();
  Json events = Json::object();
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const Device& d = devices[i];
    const bool ended_here = !d.line.is_null();
    done += ended_here;
    succeeded += ended_here && d.line.value("succeeded", false);
    rows.push_back(
        {d.label, d.columns,
         ended_here ? d.line.value("result", "failed")
                    : (d.first_ms ? "not ended" : "not started"),
         ended_here ? d.line.value("step", "") : "",
         ended_here ? d.line.value("text", "") : "",
         ended_here && d.line.contains("seconds") ? d.line["seconds"] : Json(),
         ended_here && d.line.value("succeeded", false)});
    if (!d.events.empty()) events[std::to_string(i)] = d.events;
  }
  const Json file = run.value("sha256", "").empty()
                        ? Json()
                        : Json{{"name", BareName(run.value("file", ""))},
                               {"sha256", run.value("sha256", "")},
                               {"size", run.value("size", 0)}};
  *data = {
      {"live", false},
      {"mode", run.value("mode", "update")},
      {"file", file},
      {"columns", run.value("columns", Json::array())},
      {"started_ms", started},
      {"now_ms", ended},
      {"ended_ms", ended},
      {"head",
       {{"devices", devices.size()},
        {"done", done},
        {"succeeded", succeeded},
        {"failed", done - succeeded},
        {"running", 0},
        {"not_started", devices.size() - done},
        {"uploading", 0},
        {"rate_per_min", nullptr},
        {"eta_ms", nullptr}}},
      {"banner", Banner(summary, devices)},
      {"exit", summary.is_object() ? summary.value("exit", Json()) : Json()},
      {"chart", Chart(devices, started, ended)},
      {"devices", rows},
      {"events", events}};
  return Status();
}

Status WriteReport(const std::string& dir, std::string* path) {
  Json data;
  if (Status made = ReportData(dir, &data); !made.ok()) return made;
  std::unique_ptr<OwnFolder> folder;
  if (Status opened = OwnFolder::Open(dir, FolderUse::kRead, &folder);
      !opened.ok())
    return opened;
  if (Status written = folder->Write("report.html", PageHtml(data, ""));
      !written.ok())
    return Status::Failure(written.code(), dir + "/" + written.cause());
  *path = dir + "/report.html";
  return Status();
}

}  // namespace hj5::cli::web
