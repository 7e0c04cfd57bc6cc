#include "cli/options.h"

#include <map>

namespace hj5::cli {
namespace {

// The options that take a value, and where it goes.
enum class Valued {
  kAddress,
  kHttpPort,
  kFtpPort,
  kId,
  kPasswordFile,
  kDevices,
  kJobs
};

const std::map<std::string_view, Valued>& ValuedOptions() {
  static const std::map<std::string_view, Valued> options = {
      {"--address", Valued::kAddress},
      {"--http-port", Valued::kHttpPort},
      {"--ftp-port", Valued::kFtpPort},
      {"--id", Valued::kId},
      {"--password-file", Valued::kPasswordFile},
      {"--devices", Valued::kDevices},
      {"--jobs", Valued::kJobs}};
  return options;
}

bool Fail(std::string* error, std::string text) {
  *error = std::move(text);
  return false;
}

bool TakePort(std::string_view name, const std::string& value,
              std::optional<std::uint16_t>* into, std::string* error) {
  *into = ParsePort(value);
  if (!*into) {
    return Fail(error, std::string(name) + ": not a port (1-65535): " + value);
  }
  return true;
}

bool TakeJobs(const std::string& value, std::size_t* into, std::string* error) {
  std::size_t jobs = 0;
  for (char c : value) {
    if (c < '0' || c > '9' || jobs > Options::kMaxJobs) {
      jobs = 0;
      break;
    }
    jobs = jobs * 10 + static_cast<std::size_t>(c - '0');
  }
  if (jobs < 1 || jobs > Options::kMaxJobs) {
    return Fail(error, "--jobs: not a number from 1 to " +
                           std::to_string(Options::kMaxJobs) + ": " + value);
  }
  *into = jobs;
  return true;
}

bool TakeValue(std::string_view name, Valued which, const std::string& value,
               Options& options, std::string* error) {
  switch (which) {
    case Valued::kAddress:
      options.address = value;
      return true;
    case Valued::kHttpPort:
      return TakePort(name, value, &options.http_port, error);
    case Valued::kFtpPort:
      return TakePort(name, value, &options.ftp_port, error);
    case Valued::kId:
      options.login_id = value;
      return true;
    case Valued::kPasswordFile:
      options.password_file = value;
      return true;
    case Valued::kDevices:
      options.devices_file = value;
      return true;
    case Valued::kJobs:
      return TakeJobs(value, &options.jobs, error);
  }
  return false;
}

// One argument that starts with "--"; `next` is the one after it (null at
// the end). Sets `*used_next` when the value was taken from it.
bool TakeOption(const std::string& arg, const std::string* next,
                bool* used_next, Options& options, std::string* error) {
  if (arg == "--help" || arg == "-h") return options.help = true;
  if (arg == "--version") return options.version = true;
  if (arg == "--check") return options.check = true;
  if (arg == "--json") return options.json = true;
  if (arg == "--password" || arg.starts_with("--password=")) {
    return Fail(error,
                "--password: a password on the command line can be read by "
                "other users; use --password-file or HJ5_PASSWORD");
  }
  const std::size_t equals = arg.find('=');
  const std::string name = arg.substr(0, equals);
  const auto found = ValuedOptions().find(name);
  if (found == ValuedOptions().end()) {
    return Fail(error, "unknown option: " + name);
  }
  if (equals != std::string::npos) {
    return TakeValue(name, found->second, arg.substr(equals + 1), options,
                     error);
  }
  if (!next) return Fail(error, name + ": a value is missing");
  *used_next = true;
  return TakeValue(name, found->second, *next, options, error);
}

bool CheckCombination(const Options& options, std::string* error) {
  if (options.help || options.version) return true;
  if (options.address.empty() == !options.devices_file) {
    return Fail(error, "give either --address or --devices");
  }
  if (!options.xml_file && !options.check) {
    return Fail(error, "no XML file given");
  }
  return true;
}

}  // namespace

std::optional<std::uint16_t> ParsePort(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value < 1 || value > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

std::optional<Endpoint> ParseEndpoint(std::string_view text,
                                      std::string* error) {
  Endpoint endpoint;
  std::string_view rest;
  if (text.starts_with('[')) {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos) {
      *error = "address: no closing bracket: " + std::string(text);
      return std::nullopt;
    }
    endpoint.host = text.substr(1, close - 1);
    rest = text.substr(close + 1);
  } else {
    const std::size_t colon = text.find(':');
    if (colon != std::string_view::npos &&
        text.find(':', colon + 1) != std::string_view::npos) {
      *error = "address: an IPv6 address goes in brackets, [" +
               std::string(text) + "]";
      return std::nullopt;
    }
    endpoint.host = text.substr(0, colon);
    if (colon != std::string_view::npos) rest = text.substr(colon);
  }
  if (!rest.empty()) {
    endpoint.port =
        rest.starts_with(':') ? ParsePort(rest.substr(1)) : std::nullopt;
    if (!endpoint.port) {
      *error =
          "address: not a port (1-65535) after the host: " + std::string(text);
      return std::nullopt;
    }
  }
  for (unsigned char c : endpoint.host) {
    if (c <= ' ' || c == 0x7F) {
      *error = "address: a blank or control byte in " + std::string(text);
      return std::nullopt;
    }
  }
  if (endpoint.host.empty()) {
    *error = "address: no host in \"" + std::string(text) + "\"";
    return std::nullopt;
  }
  return endpoint;
}

std::optional<Options> ParseOptions(const std::vector<std::string>& args,
                                    std::string* error) {
  Options options;
  bool only_files = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!only_files && arg == "--") {
      only_files = true;
    } else if (!only_files && arg.starts_with("-") && arg != "-") {
      bool used_next = false;
      const std::string* next = i + 1 < args.size() ? &args[i + 1] : nullptr;
      if (!TakeOption(arg, next, &used_next, options, error))
        return std::nullopt;
      if (used_next) ++i;
    } else if (options.xml_file) {
      *error = "more than one XML file given: " + arg;
      return std::nullopt;
    } else {
      options.xml_file = arg;
    }
  }
  if (!CheckCombination(options, error)) return std::nullopt;
  return options;
}

}  // namespace hj5::cli
