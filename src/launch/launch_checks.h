#ifndef HJ5_LAUNCH_LAUNCH_CHECKS_H_
#define HJ5_LAUNCH_LAUNCH_CHECKS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "device/device_session.h"
#include "platform/sequential_file.h"
#include "platform/status.h"
#include "update/update_context.h"

namespace hj5 {

// Why the click refuses to start an update: the warning boxes it shows, in
// order (an unreadable file gives two, "File Open Failure." and "XML File
// Format Error."), each with its cause.
struct Refusal {
  std::vector<Status> boxes;
};

// The values typed into the form, as the device gets them (UTF-8 on
// Linux, the ANSI code page on Windows); a text is nullopt when one of its
// characters has no form in those bytes.
struct TypedValues {
  std::optional<std::string> address;
  std::optional<std::string> login_id;
  std::optional<std::string> password;
  std::uint16_t ftp_port = 21;
  std::uint16_t http_port = 80;
};

// The leading decimal digits of a port field's text, as atoi reads them,
// the low 16 bits kept.
std::uint16_t PortOf(const std::string& text);

// The click's checks, in its order, before any traffic: first the chosen
// file (the name's length and bytes, then the XML check), then the typed
// values (address, login ID, password: lengths and bytes), which fill a
// DeviceSession. Each stops at its first refusal. Any thread.
std::optional<Refusal> CheckChosenFile(const ChosenFile& file);
// The same over the file's bytes already open (a fleet's one reading of
// it), read from where `opened` stands.
std::optional<Refusal> CheckChosenFile(const ChosenFile& file,
                                       SequentialFile& opened);
std::variant<DeviceSession, Refusal> CheckTypedValues(const TypedValues& typed);

}  // namespace hj5

#endif  // HJ5_LAUNCH_LAUNCH_CHECKS_H_
