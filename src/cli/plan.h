#ifndef HJ5_CLI_PLAN_H_
#define HJ5_CLI_PLAN_H_

#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "cli/options.h"
#include "device/device_session.h"
#include "update/update_context.h"

namespace hj5::cli {

// One device that passed the click's checks.
struct PlannedDevice {
  std::string label;
  DeviceSession session;
  std::vector<std::string> fields;  // its row of the devices file
};

// Everything a run needs, checked before any traffic.
struct Plan {
  RunMode mode = RunMode::kUpdate;
  bool json = false;
  std::size_t jobs = Options::kDefaultJobs;
  std::size_t canary = 0;
  // The most devices that may fail before no further device starts.
  std::optional<std::size_t> max_failures;
  std::size_t max_uploads = 0;     // 0: as many as run
  std::optional<ChosenFile> file;  // none without an update
  std::uint64_t file_size = 0;
  std::string file_sha256;  // with a results folder
  // The devices file's columns (for --address the ones it would have).
  std::vector<std::string> columns;
  std::vector<PlannedDevice> devices;
  std::optional<std::string> results_dir;
  bool resume = false;
};

// Why the run is refused: one line each, for standard error.
struct PlanRefusal {
  std::vector<std::string> lines;
};

// What Prepare() asks of its surroundings.
struct PlanHost {
  // An environment variable; nullopt when it is not set.
  std::function<std::optional<std::string>(const char* name)> getenv;
  bool stdin_is_terminal = false;
  // A line read without echo after `prompt`; nullopt at end of input.
  std::function<std::optional<std::string>(const std::string& prompt)>
      read_secret;
  std::function<bool(const std::string& path)> readable_by_others;
  std::function<void(const std::string& line)> warn;
};

// Reads the devices and the password, and runs the click's checks on the
// file and on every device's values, with the click's code and texts: each
// text (UTF-8 from the command line, a file, the environment or the prompt)
// as the device gets it (DeviceText). Nothing is sent to a device.
std::variant<Plan, PlanRefusal> Prepare(const Options& options,
                                        const PlanHost& host);

}  // namespace hj5::cli

#endif  // HJ5_CLI_PLAN_H_
