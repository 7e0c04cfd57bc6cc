#ifndef HJ5_CLI_OPTIONS_H_
#define HJ5_CLI_OPTIONS_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fleet/plan.h"
#include "platform/ftp_client.h"

namespace hj5::cli {

using fleet::FailureBudget;
using fleet::RunMode;

// What the command line asked for, as given; nothing checked against a
// device or a file yet.
struct Options {
  static constexpr std::size_t kDefaultJobs = fleet::Plan::kDefaultJobs;
  static constexpr std::size_t kMaxJobs = 10000;

  bool help = false;
  bool version = false;
  RunMode mode = RunMode::kUpdate;
  bool json = false;
  // The first `canary` devices of the list are updated first; the rest
  // start only once all of them completed.
  std::size_t canary = 0;
  std::optional<FailureBudget> max_failures;
  std::string address;  // --address HOST[:HTTP_PORT]
  std::optional<std::uint16_t> http_port;
  std::optional<std::uint16_t> ftp_port;
  std::optional<std::string> login_id;
  std::optional<std::string> password_file;
  std::optional<std::string> devices_file;
  std::size_t jobs = kDefaultJobs;
  // At most this many uploads at a time; 0: as many as run.
  std::size_t max_uploads = 0;
  FtpVerify verify = FtpVerify::kNone;
  // The run's folder (--results), or the folder of the run to resume.
  std::optional<std::string> results_dir;
  bool resume = false;
  std::optional<std::string> xml_file;
  // --web [ADDR:]PORT, as given.
  std::optional<std::string> web;
  // --report DIR: only the report of the run in DIR.
  std::optional<std::string> report_dir;
  std::optional<fleet::Window> window;
  bool wait_for_window = false;
};

// Reads the arguments after the program's name. On a refusal returns
// nullopt and says why in `*error`.
std::optional<Options> ParseOptions(const std::vector<std::string>& args,
                                    std::string* error);

// "N" or "P%" (P from 0 to 100, decimals allowed).
std::optional<FailureBudget> ParseFailureBudget(std::string_view text);

// The text of --help.
std::string HelpText();

}  // namespace hj5::cli

#endif  // HJ5_CLI_OPTIONS_H_
