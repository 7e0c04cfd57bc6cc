#include "fleet/device_list.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <map>

namespace hj5::fleet {
namespace {

constexpr std::array<std::string_view, 5> kColumns = {
    "address", "login_id", "password", "http_port", "ftp_port"};

using Fields = std::vector<std::string>;

// The fields of one line; nullopt when a quote is left open or a quoted
// field goes on after its closing quote.
std::optional<Fields> SplitLine(std::string_view line) {
  Fields fields(1);
  bool quoted = false;
  bool closed = false;  // a quoted field's closing quote was seen
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c != '"') {
        fields.back() += c;
      } else if (i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else {
        quoted = false;
        closed = true;
      }
    } else if (c == ',') {
      fields.emplace_back();
      closed = false;
    } else if (c == '"' && fields.back().empty() && !closed) {
      quoted = true;
    } else if (closed) {
      return std::nullopt;
    } else {
      fields.back() += c;
    }
  }
  if (quoted) return std::nullopt;
  return fields;
}

// The lines of the text with their numbers, without line ends; a UTF-8
// byte-order mark before the header is dropped.
std::vector<std::pair<int, std::string_view>> Lines(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::vector<std::pair<int, std::string_view>> lines;
  int number = 0;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    if (line.ends_with('\r')) line.remove_suffix(1);
    lines.emplace_back(++number, line);
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return lines;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(c));
  return text;
}

std::string LineError(int line, const std::string& text) {
  return "line " + std::to_string(line) + ": " + text;
}

// Column name -> index from the header, the known columns only; the
// header's names go to `list`.
std::optional<std::map<std::string, std::size_t>> ReadHeader(
    int line, std::string_view text, DeviceList& list, std::string* error) {
  const std::optional<Fields> names = SplitLine(text);
  if (!names) {
    *error = LineError(line, "a quote is not closed");
    return std::nullopt;
  }
  list.columns = *names;
  std::map<std::string, std::size_t> columns;
  for (std::size_t i = 0; i < names->size(); ++i) {
    const std::string name = Lower((*names)[i]);
    if (std::find(kColumns.begin(), kColumns.end(), name) == kColumns.end()) {
      list.extra.push_back((*names)[i]);
      continue;
    }
    if (!columns.emplace(name, i).second) {
      *error = LineError(line, "column \"" + name + "\" named twice");
      return std::nullopt;
    }
  }
  if (!columns.contains("address")) {
    *error = LineError(line, "the header has no \"address\" column");
    return std::nullopt;
  }
  if (const auto password = columns.find("password"); password != columns.end())
    list.password_column = password->second;
  return columns;
}

// The value of `column` in `fields`; empty when the header lacks it.
std::string Field(const std::map<std::string, std::size_t>& columns,
                  const Fields& fields, const char* column) {
  const auto found = columns.find(column);
  return found == columns.end() ? "" : fields[found->second];
}

// "column 4 (http_port)", counted from 1.
std::string ColumnName(const std::map<std::string, std::size_t>& columns,
                       const char* column) {
  return "column " + std::to_string(columns.at(column) + 1) + " (" + column +
         ")";
}

// A port field, or the fallback when it is empty.
bool PortField(const std::map<std::string, std::size_t>& columns,
               const Fields& fields, std::optional<std::uint16_t> fallback,
               std::uint16_t standard, const char* column, std::uint16_t* into,
               std::string* error) {
  const std::string text = Field(columns, fields, column);
  if (text.empty()) {
    *into = fallback.value_or(standard);
    return true;
  }
  const std::optional<std::uint16_t> port = ParsePort(text);
  if (!port) {
    *error = ColumnName(columns, column) + ": not a port (1-65535)";
    return false;
  }
  *into = *port;
  return true;
}

std::optional<DeviceEntry> ReadDevice(
    const std::map<std::string, std::size_t>& columns, const Fields& fields,
    const DeviceDefaults& defaults, std::string* error) {
  DeviceEntry device;
  const std::optional<Endpoint> endpoint =
      ParseEndpoint(Field(columns, fields, "address"), error);
  if (!endpoint) {
    *error = ColumnName(columns, "address") + ": " + *error;
    return std::nullopt;
  }
  device.host = endpoint->host;
  const std::string http = Field(columns, fields, "http_port");
  if (endpoint->port && !http.empty()) {
    *error = "the HTTP port is given twice (address and http_port)";
    return std::nullopt;
  }
  if (endpoint->port) {
    device.http_port = *endpoint->port;
  } else if (!PortField(columns, fields, defaults.http_port, 80, "http_port",
                        &device.http_port, error)) {
    return std::nullopt;
  }
  if (!PortField(columns, fields, defaults.ftp_port, 21, "ftp_port",
                 &device.ftp_port, error)) {
    return std::nullopt;
  }
  if (std::string id = Field(columns, fields, "login_id"); !id.empty())
    device.login_id = std::move(id);
  if (std::string pw = Field(columns, fields, "password"); !pw.empty())
    device.password = std::move(pw);
  device.label = DeviceLabel(device.host, device.http_port);
  return device;
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
      *error = "no closing bracket";
      return std::nullopt;
    }
    endpoint.host = text.substr(1, close - 1);
    rest = text.substr(close + 1);
  } else {
    const std::size_t colon = text.find(':');
    if (colon != std::string_view::npos &&
        text.find(':', colon + 1) != std::string_view::npos) {
      *error = "an IPv6 address goes in brackets, [ADDRESS]";
      return std::nullopt;
    }
    endpoint.host = text.substr(0, colon);
    if (colon != std::string_view::npos) rest = text.substr(colon);
  }
  if (!rest.empty()) {
    endpoint.port =
        rest.starts_with(':') ? ParsePort(rest.substr(1)) : std::nullopt;
    if (!endpoint.port) {
      *error = "not a port (1-65535) after the host";
      return std::nullopt;
    }
  }
  for (unsigned char c : endpoint.host) {
    if (c <= ' ' || c == 0x7F) {
      *error = "a blank or control byte in the address";
      return std::nullopt;
    }
  }
  if (endpoint.host.empty()) {
    *error = "no host";
    return std::nullopt;
  }
  return endpoint;
}

std::vector<std::size_t> OperatorColumns(
    const std::vector<std::string>& columns) {
  std::vector<std::size_t> own;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (std::find(kColumns.begin(), kColumns.end(), Lower(columns[i])) ==
        kColumns.end())
      own.push_back(i);
  }
  return own;
}

std::string DeviceLabel(const std::string& host, std::uint16_t port) {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string CsvRow(const std::vector<std::string>& fields) {
  std::string row;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i) row += ',';
    const std::string& field = fields[i];
    if (field.find_first_of(",\"\r\n") == std::string::npos) {
      row += field;
      continue;
    }
    row += '"';
    for (char c : field)
      row += c == '"' ? std::string("\"\"") : std::string(1, c);
    row += '"';
  }
  return row;
}

std::optional<DeviceList> ParseDeviceList(std::string_view text,
                                          const DeviceDefaults& defaults,
                                          std::string* error) {
  std::optional<std::map<std::string, std::size_t>> columns;
  DeviceList list;
  std::vector<DeviceEntry>& devices = list.devices;
  std::map<std::string, int> seen;  // lower-case label -> line
  for (const auto& [number, line] : Lines(text)) {
    if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
    if (!columns) {
      if (!(columns = ReadHeader(number, line, list, error)))
        return std::nullopt;
      continue;
    }
    const std::optional<Fields> fields = SplitLine(line);
    if (!fields) {
      *error = LineError(number, "a quote is not closed");
      return std::nullopt;
    }
    if (fields->size() != list.columns.size()) {
      *error = LineError(number, std::to_string(fields->size()) +
                                     " fields, the header names " +
                                     std::to_string(list.columns.size()));
      return std::nullopt;
    }
    std::optional<DeviceEntry> device =
        ReadDevice(*columns, *fields, defaults, error);
    if (!device) {
      *error = LineError(number, *error);
      return std::nullopt;
    }
    device->line = number;
    device->fields = *fields;
    const auto [at, added] = seen.emplace(Lower(device->label), number);
    if (!added) {
      *error = LineError(number, device->label + " is listed twice (line " +
                                     std::to_string(at->second) + ")");
      return std::nullopt;
    }
    devices.push_back(std::move(*device));
  }
  if (devices.empty()) {
    *error = "no device listed";
    return std::nullopt;
  }
  return list;
}

}  // namespace hj5::fleet
