// hj5-update: the form's update from a terminal or a script, on one device
// or on many.
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli_os.h"
#include "cli/fleet.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/plan.h"
#include "cli/run_folder.h"
#include "hj5_version.h"

namespace hj5::cli {
namespace {

constexpr int kRefused = 2;

// The descriptors one update may hold at once, with room to spare: the
// transport's event loop and connection, and the FTP client's control and
// data connections, its wake-up pair and the file.
constexpr std::size_t kDescriptorsPerUpdate = 16;

void Say(const std::string& line) {
  std::cerr << "hj5-update: " << line << "\n";
}

PlanHost RealHost() {
  PlanHost host;
  host.getenv = &Environment;
  host.stdin_is_terminal = StdinIsTerminal();
  host.read_secret = &ReadSecretLine;
  host.readable_by_others = &ReadableByOthers;
  host.warn = &Say;
  return host;
}

OutputMode ModeFor(const Plan& plan) {
  if (plan.json) return OutputMode::kJson;
  if (StdoutIsTerminal() && EnableLiveOutput()) return OutputMode::kLive;
  return OutputMode::kPlain;
}

// How many devices may run at a time; 0 when not even one.
std::size_t Capacity(const Plan& plan) {
  std::string note;
  const std::size_t capacity = DescriptorCapacity(kDescriptorsPerUpdate, &note);
  if (!note.empty()) Say(note);
  if (capacity < std::min(plan.jobs, plan.devices.size())) {
    Say("the descriptor limit allows " + std::to_string(capacity) +
        " devices at a time");
  }
  return capacity;
}

int Run(const Plan& plan, const std::string& file_path) {
  std::unique_ptr<RunFolder> folder;
  if (plan.results_dir) {
    auto opened = RunFolder::Open(plan, file_path);
    if (auto* refusal = std::get_if<std::string>(&opened)) {
      Say(*refusal);
      return kRefused;
    }
    folder = std::move(std::get<std::unique_ptr<RunFolder>>(opened));
  }
  const std::size_t capacity = Capacity(plan);
  if (capacity == 0) return 1;
  InterruptWatch watch;
  const std::size_t columns = TerminalColumns();
  Output output(ModeFor(plan), std::cout, &UtcTimestamp,
                columns > 1 ? columns - 1 : 79);
  const RunReport report = RunFleet(
      {plan, capacity, output,
       [&watch](std::chrono::milliseconds limit) { return watch.Wait(limit); },
       folder.get()});
  const int status = ExitStatus(report);
  output.Summary(report, status);
  std::string error;
  if (folder && !folder->Finish(report, status, UtcTimestamp(), &error)) {
    Say(error);
  }
  return status;
}

int Main(const std::vector<std::string>& args) {
  std::string error;
  const std::optional<Options> options = ParseOptions(args, &error);
  if (!options) {
    Say(error);
    std::cerr << "Try 'hj5-update --help'.\n";
    return kRefused;
  }
  if (options->help) {
    std::cout << HelpText();
    return 0;
  }
  if (options->version) {
    std::cout << "hj5-update " HJ5_VERSION "\n";
    return 0;
  }
  std::variant<Plan, PlanRefusal> prepared = Prepare(*options, RealHost());
  if (const auto* refusal = std::get_if<PlanRefusal>(&prepared)) {
    for (const std::string& line : refusal->lines) Say(line);
    return kRefused;
  }
  return Run(std::get<Plan>(prepared), options->xml_file.value_or(""));
}

}  // namespace
}  // namespace hj5::cli

int main(int argc, char** argv) {
  return hj5::cli::Main(hj5::cli::Arguments(argc, argv));
}
