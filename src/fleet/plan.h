#ifndef HJ5_FLEET_PLAN_H_
#define HJ5_FLEET_PLAN_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "device/device_session.h"
#include "fleet/device_list.h"
#include "fleet/file_snapshot.h"
#include "fleet/window.h"
#include "platform/name_lookup.h"
#include "update/update_context.h"

namespace hj5::fleet {

// What a run does on each device.
enum class RunMode {
  kUpdate,   // the form's whole update
  kCheck,    // the identity check alone: nothing is changed
  kRestore,  // the repair of a device an earlier run left in update
};

// "update", "check", "restore": the mode's word in the run's record.
const char* ModeName(RunMode mode);

// How many failing devices a run bears: once more have failed, no further
// device starts.
struct FailureBudget {
  std::size_t count = 0;    // the most failures borne, or
  double percent = 0;       // that share of the devices in the run
  bool is_percent = false;  // (rounded down)

  std::size_t LimitFor(std::size_t devices) const;
};

// One device that passed the click's checks.
struct PlannedDevice {
  std::string label;
  DeviceSession session;  // its address the one it resolved to, if it did
  std::vector<std::string> fields;  // its row of the devices file
  int line = 0;                     // in the devices file; 0 for --address
};

// Everything a run needs, checked before any traffic.
struct Plan {
  static constexpr std::size_t kDefaultJobs = 16;

  RunMode mode = RunMode::kUpdate;
  std::size_t jobs = kDefaultJobs;
  // The first `canary` devices of the list go first; the rest start only
  // once all of them succeeded.
  std::size_t canary = 0;
  // The most devices that may fail before no further device starts.
  std::optional<std::size_t> max_failures;
  std::size_t max_uploads = 0;     // 0: as many as run
  std::optional<ChosenFile> file;  // none without an update
  // The file as it was read, once; every upload sends it.
  std::shared_ptr<const FileSnapshot> snapshot;
  // The devices file's columns (for --address the ones it would have).
  std::vector<std::string> columns;
  std::optional<std::size_t> password_column;
  std::vector<PlannedDevice> devices;
  std::optional<std::string> results_dir;
  bool resume = false;
  // Devices start only while it is open; with wait_for_window a run begun
  // while it is closed waits for it.
  std::optional<Window> window;
  bool wait_for_window = false;
};

// Why a run is refused: one line each, for standard error.
struct PlanRefusal {
  std::vector<std::string> lines;
};

// What a plan is made of: what the front end read and was asked.
struct PlanRequest {
  RunMode mode = RunMode::kUpdate;
  std::size_t jobs = Plan::kDefaultJobs;
  std::size_t canary = 0;
  std::optional<FailureBudget> max_failures;
  std::size_t max_uploads = 0;
  FtpVerify verify = FtpVerify::kNone;
  std::optional<std::string> file_path;  // UTF-8
  // The devices as the list (or --address) gives them.
  DeviceList devices;
  std::optional<std::string> results_dir;
  bool resume = false;
  std::optional<Window> window;
  bool wait_for_window = false;
};

// What making a plan asks of its surroundings.
struct PlanHost {
  // `text` (UTF-8) as the bytes the device gets; nullopt when a character
  // has no form there.
  std::function<std::optional<std::string>(const std::string& text)>
      device_text;
  // Gives each device its login ID and password where its line gives
  // none (a password may be asked for: only once the file has passed);
  // or refuses. Empty: the devices are complete.
  std::function<std::optional<PlanRefusal>(std::vector<DeviceEntry>& devices)>
      complete_devices;
  // Resolves each device's address once, before any traffic.
  NameLookup* lookup = nullptr;
  // How long the lookups may take together; a name not resolved by then
  // is looked up again by its update, which then fails as it would have.
  std::chrono::milliseconds lookup_limit{20000};
  std::uint64_t snapshot_memory_limit = FileSnapshot::kMemoryLimit;
};

// Runs the click's checks on the file and on every device's values, with
// the click's code and texts, reads the file once into a snapshot, and
// resolves every address once: two devices that share an address and
// their HTTP or FTP port are refused, both lines named. Nothing is sent to
// a device.
std::variant<Plan, PlanRefusal> MakePlan(PlanRequest request,
                                         const PlanHost& host);

}  // namespace hj5::fleet

#endif  // HJ5_FLEET_PLAN_H_
