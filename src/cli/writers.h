#ifndef HJ5_CLI_WRITERS_H_
#define HJ5_CLI_WRITERS_H_

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "fleet/observer.h"

namespace hj5::cli {

// How a run is shown: on a terminal one live line per running device above
// the lines that stay; otherwise one plain line per event; or one JSON
// object per line.
enum class OutputMode { kLive, kPlain, kJson };

// Writes a run's events, notes and summary to standard output, and what
// concerns the run's folder to standard error. Sits behind a
// QueuedObserver: its calls come one at a time, and a stream that blocks
// holds nobody else.
class StreamWriter final : public fleet::RunObserver {
 public:
  // A live line is cut to `live_width` bytes, so that it never wraps.
  StreamWriter(OutputMode mode, std::ostream& out, std::ostream& err,
               std::size_t live_width = 79);

  void RunStarted(const fleet::Plan& plan, fleet::WallTime at) override;
  void DeviceStarted(std::size_t) override {}
  void DeviceEvent(std::size_t index, const fleet::Event& event) override;
  void DeviceEnded(std::size_t index,
                   const fleet::DeviceOutcome& outcome) override;
  void Progressed(const fleet::Progress& progress) override;
  void Halted(const fleet::Halt& halt) override;
  void WaitingForWindow() override;
  void Dropped(std::size_t events) override;
  void RunEnded(const fleet::RunReport& report, int exit_status) override;

 private:
  void Note(const std::string& text);
  // Live mode: writes `line` above the live lines.
  void Keep(const std::string& line);
  void EraseLive();
  void DrawLive();
  void SummaryTable(const fleet::RunReport& report);

  const OutputMode mode_;
  std::ostream& out_;
  std::ostream& err_;
  const std::size_t live_width_;
  const fleet::Plan* plan_ = nullptr;
  std::vector<std::string> live_;  // the live lines shown now
  double last_progress_ = -1e9;    // when plain output told it, run seconds
};

}  // namespace hj5::cli

#endif  // HJ5_CLI_WRITERS_H_
