#include "cli/prepare.h"

#include <filesystem>
#include <fstream>

#include "fleet/device_list.h"

namespace hj5::cli {
namespace {

using fleet::DeviceEntry;
using fleet::DeviceList;

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
    const std::optional<fleet::Endpoint> endpoint =
        fleet::ParseEndpoint(options.address, &error);
    if (!endpoint) return Refused("address: " + error + ": " + options.address);
    if (endpoint->port && options.http_port)
      return Refused("the HTTP port is given twice (--address, --http-port)");
    DeviceEntry device;
    device.host = endpoint->host;
    device.http_port = endpoint->port.value_or(options.http_port.value_or(80));
    device.ftp_port = options.ftp_port.value_or(21);
    device.label = fleet::DeviceLabel(device.host, device.http_port);
    device.fields = {device.label, std::to_string(device.ftp_port)};
    return DeviceList{{"address", "ftp_port"}, {}, {device}, std::nullopt};
  }
  const std::string& path = *options.devices_file;
  std::variant<std::string, PlanRefusal> text =
      ReadWhole(path, kDevicesFileLimit);
  if (auto* refusal = std::get_if<PlanRefusal>(&text)) return *refusal;
  WarnIfReadable(host, path);
  std::optional<DeviceList> list =
      fleet::ParseDeviceList(std::get<std::string>(text),
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

}  // namespace

std::variant<fleet::Plan, PlanRefusal> Prepare(const Options& options,
                                               const PlanHost& host) {
  std::variant<DeviceList, PlanRefusal> read = ReadDevices(options, host);
  if (auto* refusal = std::get_if<PlanRefusal>(&read)) return *refusal;
  fleet::PlanRequest request;
  request.devices = std::get<DeviceList>(std::move(read));
  request.mode = options.mode;
  request.jobs = options.jobs;
  request.canary = options.canary;
  request.max_failures = options.max_failures;
  request.max_uploads = options.max_uploads;
  request.verify = options.verify;
  request.file_path = options.xml_file;
  request.results_dir = options.results_dir;
  request.resume = options.resume;
  request.window = options.window;
  request.wait_for_window = options.wait_for_window;
  fleet::PlanHost engine;
  engine.device_text = host.device_text;
  engine.complete_devices = [&options,
                             &host](std::vector<DeviceEntry>& devices) {
    return ApplyFallbacks(options, host, devices);
  };
  engine.lookup = host.lookup;
  return fleet::MakePlan(std::move(request), engine);
}

}  // namespace hj5::cli
