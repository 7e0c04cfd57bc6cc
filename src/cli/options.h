#ifndef HJ5_CLI_OPTIONS_H_
#define HJ5_CLI_OPTIONS_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hj5::cli {

// What the command line asked for, as given; nothing checked against a
// device or a file yet.
struct Options {
  static constexpr std::size_t kDefaultJobs = 16;
  static constexpr std::size_t kMaxJobs = 1024;

  bool help = false;
  bool version = false;
  bool check = false;  // the identity check alone
  bool json = false;
  std::string address;  // --address HOST[:HTTP_PORT]
  std::optional<std::uint16_t> http_port;
  std::optional<std::uint16_t> ftp_port;
  std::optional<std::string> login_id;
  std::optional<std::string> password_file;
  std::optional<std::string> devices_file;
  std::size_t jobs = kDefaultJobs;
  std::optional<std::string> xml_file;
};

// Reads the arguments after the program's name. On a refusal returns
// nullopt and says why in `*error`.
std::optional<Options> ParseOptions(const std::vector<std::string>& args,
                                    std::string* error);

// A port as typed: decimal digits only, 1 to 65535.
std::optional<std::uint16_t> ParsePort(std::string_view text);

// An address as typed: "HOST", "HOST:PORT", "[IPV6]" or "[IPV6]:PORT".
struct Endpoint {
  std::string host;  // without brackets
  std::optional<std::uint16_t> port;
};
std::optional<Endpoint> ParseEndpoint(std::string_view text,
                                      std::string* error);

// The text of --help.
const char* HelpText();

}  // namespace hj5::cli

#endif  // HJ5_CLI_OPTIONS_H_
