#include "launch/launch_checks.h"

#include "device/decimal.h"
#include "device/failure_codes.h"
#include "platform/text_checks.h"
#include "xmlcheck/xml_file_check.h"

namespace hj5 {
namespace {

constexpr std::size_t kMaxFileNameBytes = 63;

// A name that would reach outside the device's directory, or carries bytes
// no device name has.
bool IsUnsafeFileName(const std::string& name) {
  return name.find_first_of("\\:") != std::string::npos ||
         HasControlByte(name, /*include_delete=*/false);
}

Refusal Refused(int code, std::string text) {
  return Refusal{{Status::Failure(code, std::move(text), "")}};
}

// "<what><label>.", one box.
Refusal Refused(const char* what, const char* label) {
  return Refused(failure_code::kTypedValue, std::string(what) + label + ".");
}

// A typed text that the device gets as it is: one with a character the
// device's bytes cannot carry, or more bytes than `limit`, is refused; in a
// credential a control byte or DEL too (nothing an operator types there,
// and nothing the device's FTP server may see).
std::optional<Refusal> CheckText(const std::optional<std::string>& text,
                                 const char* label, std::size_t limit,
                                 bool credential) {
  if (!text) return Refused("Invalid character in ", label);
  if (text->size() > limit) return Refused("Too many characters in ", label);
  if (credential && HasControlByte(*text, /*include_delete=*/true))
    return Refused("Invalid character in ", label);
  return std::nullopt;
}

std::optional<Refusal> CheckName(const ChosenFile& file) {
  if (file.name.size() > kMaxFileNameBytes)
    return Refused(failure_code::kFileName,
                   "Too many characters in File name.");
  if (!file.name_fits || IsUnsafeFileName(file.name))
    return Refused(failure_code::kFileName, "File Name Error.");
  return std::nullopt;
}

std::optional<Refusal> XmlRefusal(const Status& xml) {
  if (xml.ok()) return std::nullopt;
  Refusal refusal;
  if (!xml.text().empty())  // the check's own box comes first
    refusal.boxes.push_back(Status::Failure(xml.code(), xml.text(), ""));
  refusal.boxes.push_back(xml.Told("XML File Format Error."));
  return refusal;
}

}  // namespace

std::uint16_t PortOf(const std::string& text) {
  const std::optional<LeadingNumber> number = ReadLeadingNumber(text);
  return static_cast<std::uint16_t>(number ? number->value : 0);
}

std::optional<Refusal> CheckChosenFile(const ChosenFile& file) {
  if (std::optional<Refusal> name = CheckName(file)) return name;
  return XmlRefusal(CheckXmlFile(file.path));
}

std::optional<Refusal> CheckChosenFile(const ChosenFile& file,
                                       SequentialFile& opened) {
  if (std::optional<Refusal> name = CheckName(file)) return name;
  return XmlRefusal(CheckXmlStream(opened));
}

std::variant<DeviceSession, Refusal> CheckTypedValues(
    const TypedValues& typed) {
  if (auto refused = CheckText(typed.address, "Address",
                               DeviceSession::kMaxAddressBytes, false))
    return *refused;
  if (auto refused = CheckText(typed.login_id, "Login ID",
                               DeviceSession::kMaxCredentialBytes, true))
    return *refused;
  if (auto refused = CheckText(typed.password, "Password",
                               DeviceSession::kMaxCredentialBytes, true))
    return *refused;
  DeviceSession session;
  session.address = *typed.address;
  session.login_id = *typed.login_id;
  session.password = *typed.password;
  session.ftp_port = typed.ftp_port;
  session.http_port = typed.http_port;
  return session;
}

}  // namespace hj5
