#include "cli/plan.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "cli/cli_os.h"
#include "cli/device_list.h"
#include "launch/launch_checks.h"
#include "platform/sequential_file.h"
#include "platform/sha256.h"

namespace hj5::cli {
namespace {

PlanRefusal Refused(std::string line) { return PlanRefusal{{std::move(line)}}; }

// The most a file the command line names may hold: a password file (one
// short line) and a devices file (a building's devices, and then some). A
// longer one, such as a device node that never ends, is refused unread.
constexpr std::size_t kPasswordFileLimit = 4096;
constexpr std::size_t kDevicesFileLimit = 16 << 20;

// A UTF-8 path as the system's file calls take it (on Windows UTF-16, so
// that a folder of any script opens).
std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// The file's bytes; a refusal when it cannot be read or holds more than
// `limit` bytes.
std::variant<std::string, PlanRefusal> ReadWhole(const std::string& path,
                                                 std::size_t limit) {
  std::ifstream in(PathOf(path), std::ios::binary);
  std::string text;
  char chunk[65536];
  while (in && text.size() <= limit) {
    in.read(chunk, sizeof chunk);
    text.append(chunk, static_cast<std::size_t>(in.gcount()));
  }
  if (text.size() > limit) {
    return Refused(path + ": holds more than " + std::to_string(limit) +
                   " bytes");
  }
  if (!in.eof()) return Refused(path + ": cannot be read");
  return text;
}

void WarnIfReadable(const PlanHost& host, const std::string& path) {
  if (!host.readable_by_others(path)) return;
  host.warn("warning: " + path +
            " can be read by group or others; it may hold passwords "
            "(chmod 600 " +
            path + ")");
}

// The devices of --devices or --address.
std::variant<DeviceList, PlanRefusal> ReadDevices(const Options& options,
                                                  const PlanHost& host) {
  std::string error;
  if (!options.devices_file) {
    const std::optional<Endpoint> endpoint =
        ParseEndpoint(options.address, &error);
    if (!endpoint) return Refused(error);
    if (endpoint->port && options.http_port)
      return Refused("the HTTP port is given twice (--address, --http-port)");
    DeviceEntry device;
    device.host = endpoint->host;
    device.http_port = endpoint->port.value_or(options.http_port.value_or(80));
    device.ftp_port = options.ftp_port.value_or(21);
    device.label = DeviceLabel(device.host, device.http_port);
    device.fields = {device.label, std::to_string(device.ftp_port)};
    return DeviceList{{"address", "ftp_port"}, {}, {device}};
  }
  const std::string& path = *options.devices_file;
  std::variant<std::string, PlanRefusal> text =
      ReadWhole(path, kDevicesFileLimit);
  if (auto* refusal = std::get_if<PlanRefusal>(&text)) return *refusal;
  WarnIfReadable(host, path);
  std::optional<DeviceList> list =
      ParseDeviceList(std::get<std::string>(text),
                      {options.http_port, options.ftp_port}, &error);
  if (!list) return Refused(path + ": " + error);
  if (!list->extra.empty()) {
    std::string names;
    for (const std::string& name : list->extra)
      names += (names.empty() ? "" : ", ") + name;
    host.warn(path +
              ": kept beside the devices, not used for the update: " + names);
  }
  return std::move(*list);
}

// The password of the devices whose line gives none.
std::variant<std::string, PlanRefusal> FallbackPassword(const Options& options,
                                                        const PlanHost& host) {
  if (options.password_file) {
    const std::string& path = *options.password_file;
    std::variant<std::string, PlanRefusal> read =
        ReadWhole(path, kPasswordFileLimit);
    if (auto* refusal = std::get_if<PlanRefusal>(&read)) return *refusal;
    WarnIfReadable(host, path);
    std::string& text = std::get<std::string>(read);
    if (text.ends_with('\n')) text.pop_back();
    if (text.ends_with('\r')) text.pop_back();
    return text;
  }
  if (std::optional<std::string> env = host.getenv("HJ5_PASSWORD")) return *env;
  if (host.stdin_is_terminal) {
    if (std::optional<std::string> typed = host.read_secret("Password: "))
      return *typed;
  }
  return Refused(
      "no password: give --password-file FILE, set HJ5_PASSWORD, or type it "
      "on a terminal");
}

// Fills in the fallbacks; the first device without a login ID refuses.
std::optional<PlanRefusal> ApplyFallbacks(const Options& options,
                                          const PlanHost& host,
                                          std::vector<DeviceEntry>& devices) {
  std::optional<std::string> password;
  for (DeviceEntry& device : devices) {
    if (!device.login_id) device.login_id = options.login_id;
    if (!device.login_id) {
      return Refused(device.label + ": no login ID (give --id" +
                     (device.line ? " or a login_id column)" : ")"));
    }
    if (device.password) continue;
    if (!password) {
      std::variant<std::string, PlanRefusal> got =
          FallbackPassword(options, host);
      if (auto* refusal = std::get_if<PlanRefusal>(&got)) return *refusal;
      password = std::get<std::string>(got);
    }
    device.password = password;
  }
  return std::nullopt;
}

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

std::variant<PlannedDevice, PlanRefusal> CheckDevice(
    const DeviceEntry& device) {
  TypedValues typed;
  typed.address = DeviceText(device.host);
  typed.login_id = DeviceText(device.login_id.value_or(""));
  typed.password = DeviceText(device.password.value_or(""));
  typed.ftp_port = device.ftp_port;
  typed.http_port = device.http_port;
  std::variant<DeviceSession, Refusal> checked = CheckTypedValues(typed);
  if (auto* session = std::get_if<DeviceSession>(&checked))
    return PlannedDevice{device.label, std::move(*session), device.fields};
  const std::string about =
      device.line
          ? "line " + std::to_string(device.line) + " (" + device.label + ")"
          : device.label;
  return Lines(about, std::get<Refusal>(checked));
}

// The bare file name of a UTF-8 path.
std::string FileNameOf(const std::string& path) {
  const std::u8string name = PathOf(path).filename().u8string();
  return std::string(name.begin(), name.end());
}

std::optional<PlanRefusal> CheckFile(const std::string& path, Plan& plan) {
  // The path is read here; the name goes to the device.
  const std::string name = FileNameOf(path);
  const std::optional<std::string> device_name = DeviceText(name);
  ChosenFile file{path, device_name.value_or(name), device_name.has_value()};
  if (const std::optional<Refusal> refused = CheckChosenFile(file))
    return Lines(path, *refused);
  std::unique_ptr<SequentialFile> opened;
  if (OpenSequentialFile(path, &opened, FileSharing::kReaders).ok())
    plan.file_size = opened->Size();
  if (plan.results_dir) {
    if (Status hashed = Sha256OfFile(path, &plan.file_sha256); !hashed.ok())
      return Refused(path + ": cannot be read (" + hashed.cause() + ")");
  }
  plan.file = std::move(file);
  return std::nullopt;
}

}  // namespace

std::variant<Plan, PlanRefusal> Prepare(const Options& options,
                                        const PlanHost& host) {
  Plan plan;
  plan.mode = options.mode;
  plan.canary = options.canary;
  plan.json = options.json;
  plan.jobs = options.jobs;
  plan.max_uploads = options.max_uploads;
  plan.results_dir = options.results_dir;
  plan.resume = options.resume;
  std::variant<DeviceList, PlanRefusal> read = ReadDevices(options, host);
  if (auto* refusal = std::get_if<PlanRefusal>(&read)) return *refusal;
  DeviceList& list = std::get<DeviceList>(read);
  plan.columns = std::move(list.columns);
  std::vector<DeviceEntry>& devices = list.devices;
  // The click's order: the file, then the typed values.
  if (options.xml_file) {
    if (std::optional<PlanRefusal> refusal = CheckFile(*options.xml_file, plan))
      return *refusal;
  }
  if (std::optional<PlanRefusal> refusal =
          ApplyFallbacks(options, host, devices))
    return *refusal;
  for (const DeviceEntry& device : devices) {
    std::variant<PlannedDevice, PlanRefusal> checked = CheckDevice(device);
    if (auto* refusal = std::get_if<PlanRefusal>(&checked)) return *refusal;
    plan.devices.push_back(std::get<PlannedDevice>(std::move(checked)));
  }
  if (options.max_failures)
    plan.max_failures = options.max_failures->LimitFor(plan.devices.size());
  if (plan.file) plan.file->verify = options.verify;
  return plan;
}

}  // namespace hj5::cli
