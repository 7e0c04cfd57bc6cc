#ifndef HJ5_CLI_EVENT_H_
#define HJ5_CLI_EVENT_H_

#include <cstdint>
#include <optional>
#include <string>

namespace hj5::cli {

// One thing a device's update showed, as the command line reports it.
// Kinds: "status" and "notice" (the form's two lines), "warning" and
// "information" (its boxes), "timer" ("start", "stop": the restart counter
// runs), "tick" ("Restarting(N)"), "upload" (bytes sent so far),
// "uploaded" (the upload's result: 0 stored), "end" (the device's outcome).
struct Event {
  std::string device;
  std::string kind;
  std::string text;
  std::string cause;  // why, for a box whose failure has one
  std::optional<std::uint64_t> bytes;
  std::optional<std::uint64_t> total;
  std::optional<int> result;
};

}  // namespace hj5::cli

#endif  // HJ5_CLI_EVENT_H_
