#ifndef HJ5_CLI_OUTPUT_H_
#define HJ5_CLI_OUTPUT_H_

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

  bool left_in_update() const {
    return update && update->may_be_left_in_update;
  }
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
  // Redraws the live lines (live mode only).
  void Live(const std::vector<LiveRow>& rows);
  void Summary(const std::vector<DeviceOutcome>& outcomes, int exit_status,
               bool interrupted);

 private:
  // Live mode: writes `line` above the live lines.
  void KeepLocked(const std::string& line);
  void EraseLiveLocked();
  void DrawLiveLocked();
  void EmitJsonLocked(const Event& event, const std::string& time);
  void SummaryTableLocked(const std::vector<DeviceOutcome>& outcomes);

  const OutputMode mode_;
  std::ostream& out_;
  const std::function<std::string()> timestamp_;
  const std::size_t live_width_;
  std::mutex mutex_;
  std::vector<std::string> live_;  // the live lines shown now
};

}  // namespace hj5::cli

#endif  // HJ5_CLI_OUTPUT_H_
