#ifndef HJ5_CLI_WEB_RUN_VIEW_H_
#define HJ5_CLI_WEB_RUN_VIEW_H_

#include <cstdint>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "fleet/observer.h"

namespace hj5::cli::web {

// The run as the live page shows it: kept from what the engine tells (a
// writer of its own behind a QueuedObserver), read by the page's server
// on its own thread. Every change has a version, so that each open page is
// sent what changed since it last looked, in batches.
// Threading: the observer's calls on the queue's thread; the rest on any.
class RunView final : public fleet::RunObserver {
 public:
  // The page's first load: everything (page.js's data).
  nlohmann::ordered_json Snapshot() const;
  // What changed after `*version` (the head, new chart points, the devices
  // that changed); sets `*version` to now. Null when nothing changed.
  nlohmann::ordered_json Changes(std::uint64_t* version) const;
  // A device's events: {"events": [[t_ms, kind, text, cause, code], ...]}.
  nlohmann::ordered_json Events(std::size_t index) const;
  std::size_t devices() const;
  bool ended() const;

  void RunStarted(const fleet::Plan& plan, fleet::WallTime at) override;
  void DeviceStarted(std::size_t index) override;
  void DeviceEvent(std::size_t index, const fleet::Event& event) override;
  void DeviceEnded(std::size_t index,
                   const fleet::DeviceOutcome& outcome) override;
  void Progressed(const fleet::Progress& progress) override;
  void Halted(const fleet::Halt& halt) override;
  void Dropped(std::size_t) override {}
  void WaitingForWindow() override;
  void RunEnded(const fleet::RunReport& report, int exit_status) override;

 private:
  struct Row {
    std::string result = "not started";
    std::string step;
    std::string text;
    std::optional<double> seconds;
    bool ok = false;
    std::uint64_t version = 0;
    nlohmann::ordered_json events = nlohmann::ordered_json::array();
  };

  nlohmann::ordered_json RowJson(const Row& row) const;
  nlohmann::ordered_json HeadLocked() const;
  std::int64_t SinceStart(fleet::WallTime time) const;
  void Changed(Row& row) { row.version = ++version_; }

  mutable std::mutex mutex_;  // guards everything below
  const fleet::Plan* plan_ = nullptr;
  fleet::WallTime started_;
  std::vector<std::size_t> own_columns_;
  std::vector<Row> rows_;
  fleet::Progress progress_;
  std::optional<std::string> banner_;
  std::optional<int> exit_;
  std::optional<std::int64_t> ended_ms_;
  // [t_ms, completed, failed, running] with the version each came in.
  std::vector<std::pair<std::uint64_t, nlohmann::ordered_json>> chart_;
  std::uint64_t version_ = 0;
  std::uint64_t head_version_ = 0;
};

}  // namespace hj5::cli::web

#endif  // HJ5_CLI_WEB_RUN_VIEW_H_
