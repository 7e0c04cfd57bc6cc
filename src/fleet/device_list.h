#ifndef HJ5_FLEET_DEVICE_LIST_H_
#define HJ5_FLEET_DEVICE_LIST_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hj5::fleet {

// One device to update, as the command line or a devices file names it.
// Nothing here has passed the click's checks yet.
struct DeviceEntry {
  std::string label;  // how output names it: "HOST:PORT", "[IPV6]:PORT"
  std::string host;
  std::uint16_t http_port = 80;
  std::uint16_t ftp_port = 21;
  std::optional<std::string> login_id;  // nullopt: the options' --id
  std::optional<std::string> password;  // nullopt: the options' password
  int line = 0;                         // in the devices file; 0 for --address
  std::vector<std::string> fields;      // its row, every column as given
};

// A devices file as read: its columns and its devices.
struct DeviceList {
  std::vector<std::string> columns;  // the header's names, as given
  std::vector<std::string> extra;    // those that are the operator's own
  std::vector<DeviceEntry> devices;

  // The index of the password column among `columns`, if there is one.
  std::optional<std::size_t> password_column;
};

// What a device falls back to when its line leaves a value out.
struct DeviceDefaults {
  std::optional<std::uint16_t> http_port;
  std::optional<std::uint16_t> ftp_port;
};

// "HOST:PORT", brackets around an IPv6 host.
std::string DeviceLabel(const std::string& host, std::uint16_t port);

// A port as typed: decimal digits only, 1 to 65535.
std::optional<std::uint16_t> ParsePort(std::string_view text);

// An address as typed: "HOST", "HOST:PORT", "[IPV6]" or "[IPV6]:PORT".
struct Endpoint {
  std::string host;  // without brackets
  std::optional<std::uint16_t> port;
};
// nullopt, with why in `*error` (never quoting the text: a misaligned row
// may hold a password where the address belongs), when it is none.
std::optional<Endpoint> ParseEndpoint(std::string_view text,
                                      std::string* error);

// Reads a devices file: a header naming the columns (address required;
// login_id, password, http_port, ftp_port optional; any order; any other
// column is the operator's own, such as a site or a room, kept beside the
// device and not used for the update), then one device a line. Fields may
// be quoted ("a,b", "say ""x"""); blank lines are skipped; an empty field
// falls back as a missing column does. The address may carry the HTTP port
// as --address does. A device listed twice (same host, case aside, and
// HTTP port) is refused. On a refusal returns nullopt and says why in
// `*error`, naming the line and column but never quoting a value.
std::optional<DeviceList> ParseDeviceList(std::string_view text,
                                          const DeviceDefaults& defaults,
                                          std::string* error);

// The positions of the operator's own columns among a header's names
// (those that are none of address, login_id, password, http_port and
// ftp_port, case aside): what a report may show of a device beside it.
std::vector<std::size_t> OperatorColumns(
    const std::vector<std::string>& columns);

// One row of a devices file: the fields joined by commas, each quoted when
// it holds a comma, a quote or a line end.
std::string CsvRow(const std::vector<std::string>& fields);

}  // namespace hj5::fleet

#endif  // HJ5_FLEET_DEVICE_LIST_H_
