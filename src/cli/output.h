#ifndef HJ5_CLI_OUTPUT_H_
#define HJ5_CLI_OUTPUT_H_

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/event.h"
#include "cli/terminal_form.h"
#include "update/update_outcome.h"

namespace hj5::cli {

// How a run is shown: on a terminal one live line per running device above
// the lines that stay; otherwise one plain line per event; or one JSON
// object per line.
enum class OutputMode { kLive, kPlain, kJson };

// How one device ended.
struct DeviceOutcome {
  std::string device;
  // "completed", "failed", "accepted", "refused", "stopped", "not started"
  std::string result;
  std::string text;  // the last status, or the box that refused it
  bool succeeded = false;
  // What the runner returned; none when the update never started.
  std::optional<UpdateOutcome> update;
  // After a stop that restores: how the recovery ended.
  std::optional<UpdateOutcome> recovery;
  // How long it ran.
  double seconds = 0;

  // The device may be left with FTP on or user9 "UPDATE".
  bool left_in_update() const {
    if (recovery) return recovery->may_be_left_in_update;
    return update && update->may_be_left_in_update;
  }
  // The device may hold part of the file.
  bool partial_upload() const { return update && update->partial_upload; }
};

// What ended a run before every device had its turn.
enum class RunStop {
  kNone,
  kCanary,  // a canary failed
  kBudget,  // more devices failed than the budget bears
};

// How a run ended.
struct RunReport {
  std::vector<DeviceOutcome> outcomes;  // in the plan's order
  RunStop stop = RunStop::kNone;
  std::optional<std::size_t> max_failures;
  bool interrupted = false;  // by Ctrl-C, SIGTERM or SIGHUP
  int signal_status = 0;     // 130, 143 or 129 after one; else 0

  // Devices that failed, succeeded, and never started.
  std::size_t Count(bool started, bool succeeded) const;
};

// A running device's live line.
struct LiveRow {
  std::string device;
  TerminalForm::View view;
};

// Writes a run's events, notes and summary to one stream.
//
// Threading: Emit() and Note() from any thread; Live() and Summary() from
// the front end's thread.
class Output {
 public:
  // A live line is cut to `live_width` bytes, so that it never wraps.
  Output(OutputMode mode, std::ostream& out,
         std::function<std::string()> timestamp, std::size_t live_width = 79);

  void Emit(const Event& event);
  // A line of the tool's own (an interrupt, a limit).
  void Note(const std::string& text);
  // Redraws the live lines under the head line `progress` (live mode);
  // plain output prints the head line every few seconds.
  void Live(const std::vector<LiveRow>& rows, const std::string& progress);
  void Summary(const RunReport& report, int exit_status);

 private:
  // Live mode: writes `line` above the live lines.
  void KeepLocked(const std::string& line);
  void EraseLiveLocked();
  void DrawLiveLocked();
  void EmitJsonLocked(const Event& event, const std::string& time);
  void SummaryTableLocked(const RunReport& report);

  const OutputMode mode_;
  std::ostream& out_;
  const std::function<std::string()> timestamp_;
  const std::size_t live_width_;
  std::mutex mutex_;
  std::vector<std::string> live_;  // the live lines shown now
  std::chrono::steady_clock::time_point last_progress_{};
};

}  // namespace hj5::cli

#endif  // HJ5_CLI_OUTPUT_H_
