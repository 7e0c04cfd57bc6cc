#include "cli/web/run_view.h"

#include "cli/summary_text.h"
#include "fleet/device_list.h"
#include "fleet/record_json.h"

namespace hj5::cli::web {
namespace {

using fleet::EventKind;

// A new point of the chart at most this often, in ms.
constexpr std::int64_t kChartEveryMs = 2000;

std::int64_t EpochMs(fleet::WallTime time) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             time.time_since_epoch())
      .count();
}

// The page's event: [t_ms, kind, text, cause, code], its tail left out
// when empty.
nlohmann::ordered_json EventJson(std::int64_t t_ms, const std::string& kind,
                                 const std::string& text,
                                 const std::string& cause = "", int code = 0) {
  nlohmann::ordered_json event = {t_ms, kind, text};
  if (!cause.empty() || code != 0) event.push_back(cause);
  if (code != 0) event.push_back(code);
  return event;
}

}  // namespace

std::int64_t RunView::SinceStart(fleet::WallTime time) const {
  return EpochMs(time) - EpochMs(started_);
}

void RunView::RunStarted(const fleet::Plan& plan, fleet::WallTime at) {
  std::lock_guard lock(mutex_);
  plan_ = &plan;
  started_ = at;
  own_columns_ = fleet::OperatorColumns(plan.columns);
  rows_.assign(plan.devices.size(), Row{});
  progress_.devices = plan.devices.size();
  head_version_ = ++version_;
}

void RunView::DeviceStarted(std::size_t index) {
  std::lock_guard lock(mutex_);
  rows_[index].result = "running";
  Changed(rows_[index]);
}

void RunView::DeviceEvent(std::size_t index, const fleet::Event& event) {
  if (event.Droppable()) return;  // ticks and byte counts are not kept
  std::lock_guard lock(mutex_);
  Row& row = rows_[index];
  if (event.kind == EventKind::kStatus) {
    row.text = event.text;
    Changed(row);
  }
  row.events.push_back(
      EventJson(SinceStart(event.time), fleet::EventKindName(event.kind),
                fleet::EventText(event), event.cause, event.code));
}

void RunView::DeviceEnded(std::size_t index,
                          const fleet::DeviceOutcome& outcome) {
  std::lock_guard lock(mutex_);
  Row& row = rows_[index];
  row.result = fleet::ResultName(outcome.result);
  row.step = outcome.update ? StepName(outcome.update->reached) : "";
  row.text = outcome.text;
  if (outcome.started()) row.seconds = outcome.seconds;
  row.ok = outcome.succeeded;
  row.events.push_back(EventJson(SinceStart(std::chrono::system_clock::now()),
                                 "end", row.result));
  Changed(row);
}

void RunView::Progressed(const fleet::Progress& progress) {
  std::lock_guard lock(mutex_);
  progress_ = progress;
  progress_.rows.clear();
  head_version_ = ++version_;
  const auto t_ms = static_cast<std::int64_t>(progress.seconds * 1000);
  if (chart_.empty() ||
      t_ms - chart_.back().second[0].get<std::int64_t>() >= kChartEveryMs) {
    chart_.push_back(
        {version_,
         {t_ms, progress.succeeded, progress.failed, progress.running}});
  }
}

void RunView::Halted(const fleet::Halt& halt) {
  std::lock_guard lock(mutex_);
  banner_ = HaltNote(halt);
  head_version_ = ++version_;
}

void RunView::WaitingForWindow() {
  std::lock_guard lock(mutex_);
  banner_ = WindowWaitNote(*plan_->window);
  head_version_ = ++version_;
}

void RunView::RunEnded(const fleet::RunReport& report, int exit_status) {
  std::lock_guard lock(mutex_);
  exit_ = exit_status;
  ended_ms_ = EpochMs(std::chrono::system_clock::now());
  if (std::string stop = StopSentence(report); !stop.empty()) banner_ = stop;
  progress_.running = 0;
  progress_.done = report.Count(true, true) + report.Count(true, false);
  progress_.succeeded = report.Count(true, true);
  progress_.failed = report.Count(true, false);
  progress_.eta_seconds.reset();
  head_version_ = ++version_;
}

nlohmann::ordered_json RunView::HeadLocked() const {
  const fleet::Progress& p = progress_;
  return {
      {"devices", p.devices},
      {"done", p.done},
      {"succeeded", p.succeeded},
      {"failed", p.failed},
      {"running", p.running},
      {"not_started", p.devices - p.done - p.running},
      {"uploading", p.uploading},
      {"rate_per_min",
       p.per_minute ? nlohmann::ordered_json(*p.per_minute) : nullptr},
      {"eta_ms", p.eta_seconds ? nlohmann::ordered_json(*p.eta_seconds * 1000)
                               : nullptr}};
}

nlohmann::ordered_json RunView::RowJson(const Row& row) const {
  return {row.result, row.step, row.text,
          row.seconds ? nlohmann::ordered_json(*row.seconds) : nullptr, row.ok};
}

nlohmann::ordered_json RunView::Snapshot() const {
  std::lock_guard lock(mutex_);
  nlohmann::ordered_json columns = nlohmann::ordered_json::array();
  for (std::size_t c : own_columns_) columns.push_back(plan_->columns[c]);
  nlohmann::ordered_json devices = nlohmann::ordered_json::array();
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    nlohmann::ordered_json values = nlohmann::ordered_json::array();
    for (std::size_t c : own_columns_) {
      const auto& fields = plan_->devices[i].fields;
      values.push_back(c < fields.size() ? fields[c] : "");
    }
    nlohmann::ordered_json device = {plan_->devices[i].label, values};
    for (auto& value : RowJson(rows_[i])) device.push_back(value);
    devices.push_back(std::move(device));
  }
  nlohmann::ordered_json chart = nlohmann::ordered_json::array();
  for (const auto& [version, point] : chart_) chart.push_back(point);
  nlohmann::ordered_json file = nullptr;
  if (plan_->file && plan_->snapshot) {
    file = {{"name", plan_->file->name},
            {"sha256", plan_->snapshot->sha256()},
            {"size", plan_->snapshot->Size()}};
  }
  return {
      {"live", true},
      {"mode", fleet::ModeName(plan_->mode)},
      {"file", file},
      {"columns", columns},
      {"started_ms", EpochMs(started_)},
      {"now_ms", EpochMs(std::chrono::system_clock::now())},
      {"ended_ms", ended_ms_ ? nlohmann::ordered_json(*ended_ms_) : nullptr},
      {"head", HeadLocked()},
      {"banner", banner_ ? nlohmann::ordered_json(*banner_) : nullptr},
      {"exit", exit_ ? nlohmann::ordered_json(*exit_) : nullptr},
      {"chart", chart},
      {"devices", devices}};
}

nlohmann::ordered_json RunView::Changes(std::uint64_t* version) const {
  std::lock_guard lock(mutex_);
  if (version_ == *version) return nullptr;
  nlohmann::ordered_json devices = nlohmann::ordered_json::object();
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].version > *version)
      devices[std::to_string(i)] = RowJson(rows_[i]);
  }
  nlohmann::ordered_json chart = nlohmann::ordered_json::array();
  for (const auto& [point_version, point] : chart_)
    if (point_version > *version) chart.push_back(point);
  *version = version_;
  return {
      {"now_ms", EpochMs(std::chrono::system_clock::now())},
      {"head", HeadLocked()},
      {"banner", banner_ ? nlohmann::ordered_json(*banner_) : nullptr},
      {"exit", exit_ ? nlohmann::ordered_json(*exit_) : nullptr},
      {"ended_ms", ended_ms_ ? nlohmann::ordered_json(*ended_ms_) : nullptr},
      {"chart", chart},
      {"devices", devices}};
}

nlohmann::ordered_json RunView::Events(std::size_t index) const {
  std::lock_guard lock(mutex_);
  return {{"events", rows_.at(index).events}};
}

std::size_t RunView::devices() const {
  std::lock_guard lock(mutex_);
  return rows_.size();
}

bool RunView::ended() const {
  std::lock_guard lock(mutex_);
  return exit_.has_value();
}

}  // namespace hj5::cli::web
