// hj5-update: the form's update from a terminal or a script, on one device
// or on many.
#include <atomic>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli_os.h"
#include "cli/options.h"
#include "cli/prepare.h"
#include "cli/web/report.h"
#include "cli/web/run_view.h"
#include "cli/web/web_server.h"
#include "cli/writers.h"
#include "fleet/device_run.h"
#include "fleet/queued_observer.h"
#include "fleet/scheduler.h"
#include "hj5_version.h"
#include "platform/system_name_lookup.h"

namespace hj5::cli {
namespace {

// The descriptors a running device may hold: its HTTP connection while an
// exchange is in progress (the devices share one event loop), and during
// its upload the FTP client's control and data connections and libcurl's
// wake-up pair, with room to spare.
constexpr std::size_t kDescriptorsPerDevice = 1;
constexpr std::size_t kDescriptorsPerUpload = 8;

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

// The operator's Ctrl-C and the system's requests, and the page's controls.
class Stops final : public fleet::StopSource {
 public:
  explicit Stops(InterruptWatch& watch) : watch_(watch) {}
  fleet::StopRequests Wait(std::chrono::milliseconds limit) override {
    fleet::StopRequests requests = watch_.Wait(limit);
    requests.drains = drains_.exchange(0);
    requests.restores = restores_.exchange(0);
    return requests;
  }
  void Take(web::WebServer::Control control) {
    (control == web::WebServer::Control::kDrain ? drains_ : restores_)++;
  }

 private:
  InterruptWatch& watch_;
  std::atomic<int> drains_{0};
  std::atomic<int> restores_{0};
};

// The run's page while it lasts; null without --web. Refused (exit 2, before
// any traffic) when it cannot listen.
std::unique_ptr<web::WebServer> ServePage(const Options& options,
                                          web::RunView& view, Stops& stops,
                                          bool* refused) {
  if (!options.web) return nullptr;
  std::string error;
  const std::optional<web::WebAddress> where =
      web::ParseWebAddress(*options.web, &error);
  std::unique_ptr<web::WebServer> server;
  if (where) {
    server = web::WebServer::Start(
        *where, view,
        [&stops](web::WebServer::Control control) { stops.Take(control); },
        &error);
  }
  if (!server) {
    Say(error);
    *refused = true;
    return nullptr;
  }
  if (!server->loopback()) {
    Say("warning: the run's page listens beyond this machine, on " +
        where->address +
        "; whoever has its address with the token can stop "
        "the run");
  }
  Say("the run's page: " + server->Url());
  return server;
}

// report.html in the run's folder, whatever ended the run.
void WriteReportOf(const fleet::Plan& plan) {
  if (!plan.results_dir) return;
  std::string path;
  if (Status written = web::WriteReport(*plan.results_dir, &path);
      !written.ok())
    Say("report.html cannot be written: " + written.cause());
}

OutputMode ModeFor(const Options& options) {
  if (options.json) return OutputMode::kJson;
  if (StdoutIsTerminal() && EnableLiveOutput()) return OutputMode::kLive;
  return OutputMode::kPlain;
}

// How many devices may run at a time (0 when not even one), and the upload
// gate sized to the descriptors left: devices that reach their upload
// together queue instead of failing for want of a socket.
std::size_t Capacity(fleet::Plan& plan) {
  std::string note;
  const std::size_t available = DescriptorsAvailable(&note);
  if (!note.empty()) Say(note);
  if (available < kDescriptorsPerDevice + kDescriptorsPerUpload) return 0;
  std::size_t width = std::min(plan.jobs, plan.devices.size());
  const std::size_t most =
      (available - kDescriptorsPerUpload) / kDescriptorsPerDevice;
  if (width > most) {
    width = most;
    Say("the descriptor limit allows " + std::to_string(width) +
        " devices at a time");
  }
  const std::size_t uploads =
      (available - width * kDescriptorsPerDevice) / kDescriptorsPerUpload;
  if (plan.max_uploads == 0 || plan.max_uploads > uploads)
    plan.max_uploads = uploads;
  return width;
}

int Run(fleet::Plan& plan, const Options& options) {
  const OutputMode mode = ModeFor(options);
  fleet::SystemFleetClock clock;
  if (plan.window && !plan.wait_for_window &&
      !plan.window->Open(clock.LocalMinute())) {
    Say("the window " + plan.window->Text() + " is closed now: it opens at " +
        fleet::Window::Clock(plan.window->start) +
        " (--wait-for-window waits for it)");
    return fleet::exit_status::kRefused;
  }
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
  PrepareForThreads(capacity);
  InterruptWatch watch;
  Stops stops(watch);
  web::RunView view;
  fleet::QueuedObserver page_queue(view);
  bool refused = false;
  std::unique_ptr<web::WebServer> page =
      ServePage(options, view, stops, &refused);
  if (refused) return fleet::exit_status::kRefused;
  const std::size_t columns = TerminalColumns();
  StreamWriter writer(mode, std::cout, std::cerr,
                      columns > 1 ? columns - 1 : 79);
  // The queue's thread writes; the engine never waits for a reader.
  auto* queue = new fleet::QueuedObserver(writer);
  fleet::ObserverList observers({queue, &page_queue});
  fleet::ProductDeviceRuns runs(plan, clock);
  const fleet::RunReport report = fleet::RunFleet(
      {plan, capacity, clock, stops, runs,
       page ? static_cast<fleet::RunObserver&>(observers) : *queue,
       record.get(), mode == OutputMode::kLive ? std::size_t{200} : 0});
  const int status = fleet::ExitStatus(report);
  record.reset();
  WriteReportOf(plan);
  page.reset();
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
  if (options->report_dir) {
    std::string path;
    if (Status written = web::WriteReport(*options->report_dir, &path);
        !written.ok()) {
      Say(written.cause());
      return fleet::exit_status::kRefused;
    }
    std::cout << path << "\n";
    return 0;
  }
  SystemNameLookup lookup;
  std::variant<fleet::Plan, PlanRefusal> prepared =
      Prepare(*options, RealHost(lookup));
  if (const auto* refusal = std::get_if<PlanRefusal>(&prepared)) {
    for (const std::string& line : refusal->lines) Say(line);
    return fleet::exit_status::kRefused;
  }
  return Run(std::get<fleet::Plan>(prepared), *options);
}

}  // namespace
}  // namespace hj5::cli

int main(int argc, char** argv) {
  return hj5::cli::Main(hj5::cli::Arguments(argc, argv));
}
