#include "fleet/plan.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <tuple>

#include "fleet/addresses.h"
#include "launch/launch_checks.h"
#include "platform/sequential_file.h"

namespace hj5::fleet {
namespace {

PlanRefusal Refused(std::string line) { return PlanRefusal{{std::move(line)}}; }

// The boxes of the click's refusal as lines, with whom they concern.
PlanRefusal Lines(const std::string& about, const Refusal& refusal) {
  PlanRefusal lines;
  for (const Status& box : refusal.boxes) {
    std::string line = about + ": " + box.text();
    if (!box.cause().empty()) line += " (" + box.cause() + ")";
    lines.lines.push_back(std::move(line));
  }
  return lines;
}

// "line 3 (10.0.0.1:80)", or the label alone for --address.
std::string About(const std::string& label, int line) {
  if (line == 0) return label;
  return "line " + std::to_string(line) + " (" + label + ")";
}

std::variant<PlannedDevice, PlanRefusal> CheckDevice(const DeviceEntry& device,
                                                     const PlanHost& host) {
  TypedValues typed;
  typed.address = host.device_text(device.host);
  typed.login_id = host.device_text(device.login_id.value_or(""));
  typed.password = host.device_text(device.password.value_or(""));
  typed.ftp_port = device.ftp_port;
  typed.http_port = device.http_port;
  std::variant<DeviceSession, Refusal> checked = CheckTypedValues(typed);
  if (auto* session = std::get_if<DeviceSession>(&checked)) {
    return PlannedDevice{device.label, std::move(*session), device.fields,
                         device.line};
  }
  return Lines(About(device.label, device.line), std::get<Refusal>(checked));
}

std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// Reads the file once: the click's checks on its name and its bytes, and
// the snapshot every upload sends.
std::optional<PlanRefusal> CheckFile(const std::string& path,
                                     const PlanHost& host, Plan& plan) {
  const std::u8string bare = PathOf(path).filename().u8string();
  const std::string name(bare.begin(), bare.end());
  const std::optional<std::string> device_name = host.device_text(name);
  ChosenFile file{path, device_name.value_or(name), device_name.has_value()};
  std::unique_ptr<SequentialFile> opened;
  if (!OpenSequentialFile(path, &opened, FileSharing::kReaders).ok()) {
    // The click's own refusal, with the click's texts.
    if (std::optional<Refusal> refused = CheckChosenFile(file))
      return Lines(path, *refused);
    return Refused(path + ": cannot be opened");
  }
  std::unique_ptr<FileSnapshot> snapshot;
  if (Status taken =
          FileSnapshot::Take(*opened, host.snapshot_memory_limit, &snapshot);
      !taken.ok())
    return Refused(path + ": cannot be read (" + taken.cause() + ")");
  if (std::optional<Refusal> refused =
          CheckChosenFile(file, *ReadFromStart(*snapshot)))
    return Lines(path, *refused);
  plan.file = std::move(file);
  plan.snapshot = std::move(snapshot);
  return std::nullopt;
}

// Each device's address resolved once: the run then sends to that address
// (the first the system gives) and never looks the name up again. Two
// devices that share an address and a port are one device named twice.
std::optional<PlanRefusal> ResolveDevices(const PlanHost& host, Plan& plan) {
  std::vector<std::string> hosts;
  std::map<std::string, std::size_t> host_index;
  for (const PlannedDevice& device : plan.devices) {
    if (host_index.emplace(device.session.address, hosts.size()).second)
      hosts.push_back(device.session.address);
  }
  const std::vector<std::vector<std::string>> found =
      ResolveAll(*host.lookup, hosts, host.lookup_limit);
  // (address, port kind, port) -> the device that has it.
  std::map<std::tuple<std::string, char, std::uint16_t>, std::size_t> owners;
  for (std::size_t i = 0; i < plan.devices.size(); ++i) {
    PlannedDevice& device = plan.devices[i];
    std::vector<std::string> addresses =
        found[host_index.at(device.session.address)];
    if (addresses.empty()) continue;  // its update fails as it always did
    device.session.address = addresses.front();
    for (const std::string& address : addresses) {
      for (const auto& [kind, port] :
           {std::pair{'h', device.session.http_port},
            std::pair{'f', device.session.ftp_port}}) {
        const auto [at, added] =
            owners.emplace(std::tuple{address, kind, port}, i);
        if (added || at->second == i) continue;
        const PlannedDevice& first = plan.devices[at->second];
        return Refused(About(first.label, first.line) + " and " +
                       About(device.label, device.line) +
                       " are one device: both reach " + address + " on " +
                       (kind == 'h' ? "HTTP" : "FTP") + " port " +
                       std::to_string(port));
      }
    }
  }
  return std::nullopt;
}

}  // namespace

const char* ModeName(RunMode mode) {
  switch (mode) {
    case RunMode::kCheck:
      return "check";
    case RunMode::kRestore:
      return "restore";
    case RunMode::kUpdate:
      break;
  }
  return "update";
}

std::size_t FailureBudget::LimitFor(std::size_t devices) const {
  if (!is_percent) return count;
  // In hundredths of a percent, so that 5% of 1,000 is 50 exactly.
  const auto hundredths = static_cast<std::uint64_t>(percent * 100 + 0.5);
  return static_cast<std::size_t>(devices * hundredths / 10000);
}

std::variant<Plan, PlanRefusal> MakePlan(PlanRequest request,
                                         const PlanHost& host) {
  Plan plan;
  plan.mode = request.mode;
  plan.jobs = request.jobs;
  plan.canary = request.canary;
  plan.max_uploads = request.max_uploads;
  plan.results_dir = std::move(request.results_dir);
  plan.resume = request.resume;
  plan.window = request.window;
  plan.wait_for_window = request.wait_for_window;
  plan.columns = std::move(request.devices.columns);
  plan.password_column = request.devices.password_column;
  // The click's order: the file, then the typed values.
  if (request.file_path) {
    if (std::optional<PlanRefusal> refusal =
            CheckFile(*request.file_path, host, plan))
      return *refusal;
    plan.file->verify = request.verify;
  }
  if (host.complete_devices) {
    if (std::optional<PlanRefusal> refusal =
            host.complete_devices(request.devices.devices))
      return *refusal;
  }
  for (const DeviceEntry& device : request.devices.devices) {
    std::variant<PlannedDevice, PlanRefusal> checked =
        CheckDevice(device, host);
    if (auto* refusal = std::get_if<PlanRefusal>(&checked)) return *refusal;
    plan.devices.push_back(std::get<PlannedDevice>(std::move(checked)));
  }
  if (host.lookup) {
    if (std::optional<PlanRefusal> refusal = ResolveDevices(host, plan))
      return *refusal;
  }
  if (request.max_failures)
    plan.max_failures = request.max_failures->LimitFor(plan.devices.size());
  return plan;
}

}  // namespace hj5::fleet
