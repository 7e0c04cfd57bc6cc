#include "cli/plan.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "app/update_launch.h"
#include "cli/cli_os.h"
#include "cli/device_list.h"
#include "cli/input_form.h"
#include "device/cause_log.h"

namespace hj5::cli {
namespace {

Refusal Refused(std::string line) { return Refusal{{std::move(line)}}; }

// The most a file the command line names may hold: a password file (one
// short line) and a devices file (a building's devices, and then some). A
// longer one, such as a device node that never ends, is refused unread.
constexpr std::size_t kPasswordFileLimit = 4096;
constexpr std::size_t kDevicesFileLimit = 16 << 20;

// The file's bytes; a refusal when it cannot be read or holds more than
// `limit` bytes.
std::variant<std::string, Refusal> ReadWhole(const std::string& path,
                                             std::size_t limit) {
  std::ifstream in(path, std::ios::binary);
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
std::variant<std::vector<DeviceEntry>, Refusal> ReadDevices(
    const Options& options, const PlanHost& host) {
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
    return std::vector<DeviceEntry>{device};
  }
  const std::string& path = *options.devices_file;
  std::variant<std::string, Refusal> text = ReadWhole(path, kDevicesFileLimit);
  if (auto* refusal = std::get_if<Refusal>(&text)) return *refusal;
  WarnIfReadable(host, path);
  std::optional<std::vector<DeviceEntry>> devices =
      ParseDeviceList(std::get<std::string>(text),
                      {options.http_port, options.ftp_port}, &error);
  if (!devices) return Refused(path + ": " + error);
  return std::move(*devices);
}

// The password of the devices whose line gives none.
std::variant<std::string, Refusal> FallbackPassword(const Options& options,
                                                    const PlanHost& host) {
  if (options.password_file) {
    const std::string& path = *options.password_file;
    std::variant<std::string, Refusal> read =
        ReadWhole(path, kPasswordFileLimit);
    if (auto* refusal = std::get_if<Refusal>(&read)) return *refusal;
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
std::optional<Refusal> ApplyFallbacks(const Options& options,
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
      std::variant<std::string, Refusal> got = FallbackPassword(options, host);
      if (auto* refusal = std::get_if<Refusal>(&got)) return *refusal;
      password = std::get<std::string>(got);
    }
    device.password = password;
  }
  return std::nullopt;
}

// The refusal boxes of the click's checks, with whom they concern.
Refusal FromBoxes(const std::string& about, const InputForm& form,
                  const CauseLog& causes) {
  Refusal refusal;
  for (const std::string& box : form.boxes()) {
    std::string line = about + ": " + box;
    for (const CauseLog::Entry& entry : causes.Entries()) {
      if (entry.text == box && !entry.cause.empty())
        line += " (" + entry.cause + ")";
    }
    refusal.lines.push_back(line);
  }
  return refusal;
}

std::variant<PlannedDevice, Refusal> CheckDevice(const DeviceEntry& device) {
  InputForm form;
  form.Type(FieldId::kAddress, device.host);
  form.Type(FieldId::kLoginId, device.login_id.value_or(""));
  form.Type(FieldId::kPassword, device.password.value_or(""));
  form.Type(FieldId::kHttpPort, std::to_string(device.http_port));
  form.Type(FieldId::kFtpPort, std::to_string(device.ftp_port));
  PlannedDevice planned{device.label, {}};
  if (CheckTypedValues(form, &planned.session)) return planned;
  const std::string about =
      device.line
          ? "line " + std::to_string(device.line) + " (" + device.label + ")"
          : device.label;
  return FromBoxes(about, form, CauseLog{});
}

std::optional<Refusal> CheckFile(const std::string& path, Plan& plan) {
  // The name goes to the device as given; the path is read locally.
  ChosenFile file{LocalPath(path),
                  std::filesystem::path(path).filename().string()};
  InputForm form;
  CauseLog causes;
  if (!CheckChosenFile(form, causes, file))
    return FromBoxes(path, form, causes);
  plan.file = std::move(file);
  return std::nullopt;
}

}  // namespace

std::variant<Plan, Refusal> Prepare(const Options& options,
                                    const PlanHost& host) {
  Plan plan;
  plan.check = options.check;
  plan.json = options.json;
  plan.jobs = options.jobs;
  std::variant<std::vector<DeviceEntry>, Refusal> read =
      ReadDevices(options, host);
  if (auto* refusal = std::get_if<Refusal>(&read)) return *refusal;
  auto& devices = std::get<std::vector<DeviceEntry>>(read);
  // The click's order: the file, then the typed values.
  if (options.xml_file) {
    if (std::optional<Refusal> refusal = CheckFile(*options.xml_file, plan))
      return *refusal;
  }
  if (std::optional<Refusal> refusal = ApplyFallbacks(options, host, devices))
    return *refusal;
  for (const DeviceEntry& device : devices) {
    std::variant<PlannedDevice, Refusal> checked = CheckDevice(device);
    if (auto* refusal = std::get_if<Refusal>(&checked)) return *refusal;
    plan.devices.push_back(std::get<PlannedDevice>(std::move(checked)));
  }
  return plan;
}

}  // namespace hj5::cli
