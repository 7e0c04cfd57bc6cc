#ifndef HJ5_CLI_PREPARE_H_
#define HJ5_CLI_PREPARE_H_

#include <functional>
#include <optional>
#include <string>
#include <variant>

#include "cli/options.h"
#include "fleet/plan.h"
#include "platform/name_lookup.h"

namespace hj5::cli {

using fleet::PlanRefusal;

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
  // The text as the device gets it (DeviceText of cli_os.h).
  std::function<std::optional<std::string>(const std::string& text)>
      device_text;
  // Resolves each device once; null: names are left to each update.
  NameLookup* lookup = nullptr;
};

// Reads the devices and the password, then makes the engine's plan: the
// click's checks on the file and on every device's values with the click's
// code and texts, each text (UTF-8 from the command line, a file, the
// environment or the prompt) as the device gets it. Nothing is sent to a
// device.
std::variant<fleet::Plan, PlanRefusal> Prepare(const Options& options,
                                               const PlanHost& host);

}  // namespace hj5::cli

#endif  // HJ5_CLI_PREPARE_H_
