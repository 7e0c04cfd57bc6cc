// hj5-update: the form's update from a terminal or a script, on one device
// or on many.
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli_os.h"
#include "cli/options.h"
#include "cli/prepare.h"
#include "cli/writers.h"
#include "fleet/device_run.h"
#include "fleet/queued_observer.h"
#include "fleet/scheduler.h"
#include "hj5_version.h"
#include "platform/system_name_lookup.h"

namespace hj5::cli {
namespace {

// The descriptors one update may hold at once, with room to spare: the
// transport's event loop and connection, and the FTP client's control and
// data connections and its wake-up pair.
constexpr std::size_t kDescriptorsPerUpdate = 16;

// How long the output may take to write what is left once the run has
// ended: a reader that never reads does not hold the process.
constexpr std::chrono::seconds kOutputGrace{3};

void Say(const std::string& line) {
  std::cerr << "hj5-update: " << line << "\n";
}

PlanHost RealHost(NameLookup& lookup) {
  PlanHost host;
  host.getenv = &Environment;
  host.stdin_is_terminal = StdinIsTerminal();
  host.read_secret = &ReadSecretLine;
  host.readable_by_others = &ReadableByOthers;
  host.warn = &Say;
  host.device_text = &DeviceText;
  host.lookup = &lookup;
  return host;
}

OutputMode ModeFor(const Options& options) {
  if (options.json) return OutputMode::kJson;
  if (StdoutIsTerminal() && EnableLiveOutput()) return OutputMode::kLive;
  return OutputMode::kPlain;
}

// How many devices may run at a time; 0 when not even one.
std::size_t Capacity(const fleet::Plan& plan) {
  std::string note;
  const std::size_t capacity = DescriptorCapacity(kDescriptorsPerUpdate, &note);
  if (!note.empty()) Say(note);
  if (capacity < std::min(plan.jobs, plan.devices.size())) {
    Say("the descriptor limit allows " + std::to_string(capacity) +
        " devices at a time");
  }
  return capacity;
}

int Run(const fleet::Plan& plan, OutputMode mode) {
  fleet::SystemFleetClock clock;
  std::unique_ptr<fleet::RunRecord> record;
  if (plan.results_dir) {
    auto opened = fleet::RunRecord::Open(plan, clock.WallNow());
    if (auto* refusal = std::get_if<std::string>(&opened)) {
      Say(*refusal);
      return fleet::exit_status::kRefused;
    }
    record = std::move(std::get<std::unique_ptr<fleet::RunRecord>>(opened));
  }
  const std::size_t capacity = Capacity(plan);
  if (capacity == 0) return fleet::exit_status::kSomeFailed;
  InterruptWatch watch;
  const std::size_t columns = TerminalColumns();
  StreamWriter writer(mode, std::cout, std::cerr,
                      columns > 1 ? columns - 1 : 79);
  // The queue's thread writes; the engine never waits for a reader.
  auto* queue = new fleet::QueuedObserver(writer);
  fleet::ProductDeviceRuns runs(plan, clock);
  const fleet::RunReport report = fleet::RunFleet(
      {plan, capacity, clock, watch, runs, *queue, record.get(),
       mode == OutputMode::kLive ? std::size_t{200} : 0});
  const int status = fleet::ExitStatus(report);
  if (!queue->Drain(kOutputGrace)) {
    // Standard output stalls: what it could not take is lost from it
    // alone (the run's folder is whole), and the process ends now rather
    // than wait for a reader that may never come.
    std::_Exit(status);
  }
  delete queue;
  return status;
}

int Main(const std::vector<std::string>& args) {
  std::string error;
  const std::optional<Options> options = ParseOptions(args, &error);
  if (!options) {
    Say(error);
    std::cerr << "Try 'hj5-update --help'.\n";
    return fleet::exit_status::kRefused;
  }
  if (options->help) {
    std::cout << HelpText();
    return 0;
  }
  if (options->version) {
    std::cout << "hj5-update " HJ5_VERSION "\n";
    return 0;
  }
  SystemNameLookup lookup;
  std::variant<fleet::Plan, PlanRefusal> prepared =
      Prepare(*options, RealHost(lookup));
  if (const auto* refusal = std::get_if<PlanRefusal>(&prepared)) {
    for (const std::string& line : refusal->lines) Say(line);
    return fleet::exit_status::kRefused;
  }
  return Run(std::get<fleet::Plan>(prepared), ModeFor(*options));
}

}  // namespace
}  // namespace hj5::cli

int main(int argc, char** argv) {
  return hj5::cli::Main(hj5::cli::Arguments(argc, argv));
}
