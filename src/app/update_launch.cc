#include "app/update_launch.h"

#include <cstdint>

#include "device/decimal.h"
#include "platform/text_checks.h"
#include "xmlcheck/xml_file_check.h"

namespace hj5 {
namespace {

constexpr std::size_t kMaxFileNameBytes = 63;

// A control byte or DEL: nothing an operator types into a credential, and
// nothing the device's FTP server may see.
bool HasCredentialControlByte(const std::string& text) {
  return HasControlByte(text, /*include_delete=*/true);
}

// A name that would reach outside the device's directory, or carries bytes
// no device name has.
bool IsUnsafeFileName(const std::string& name) {
  return name.find_first_of("\\:") != std::string::npos ||
         HasControlByte(name, /*include_delete=*/false);
}

// The leading decimal digits of `text`, as atoi reads them, low 16 bits kept.
std::uint16_t PortOf(const std::string& text) {
  const std::optional<LeadingNumber> number = ReadLeadingNumber(text);
  return static_cast<std::uint16_t>(number ? number->value : 0);
}

// Checks a typed credential and copies it; false after a refusal box.
bool TakeCredential(FormOps& form, FieldId field, const char* label,
                    std::string* into) {
  const std::string text = form.FieldText(field);
  if (text.size() > DeviceSession::kMaxCredentialBytes) {
    form.ShowBox(BoxKind::kWarning,
                 std::string("Too many characters in ") + label + ".");
    return false;
  }
  if (HasCredentialControlByte(text)) {
    form.ShowBox(BoxKind::kWarning,
                 std::string("Invalid character in ") + label + ".");
    return false;
  }
  *into = text;
  return true;
}

// Starts the update on the runner.
void StartUpdate(LaunchContext& context, const DeviceSession& session,
                 const ChosenFile& file) {
  FormOps& form = context.form;
  form.SetUpdateEnabled(false);
  if (!context.runner.Start(session, file)) {
    form.ShowBox(BoxKind::kWarning, "Update Failure.");
    form.SetFieldText(FieldId::kNotice, "");
    form.SetUpdateEnabled(true);
    return;
  }
  form.SetFieldText(FieldId::kNotice, "Please wait for a while.");
}

}  // namespace

bool CheckChosenFile(FormOps& form, CauseLog& causes, const ChosenFile& file) {
  if (file.name.size() > kMaxFileNameBytes) {
    form.ShowBox(BoxKind::kWarning, "Too many characters in File name.");
    return false;
  }
  if (IsUnsafeFileName(file.name)) {
    form.ShowBox(BoxKind::kWarning, "File Name Error.");
    return false;
  }
  std::string cause;
  if (XmlFileCheck(form, file.path, &cause) < 0) {
    const std::string text = "XML File Format Error.";
    causes.Add(text, cause);
    form.ShowBox(BoxKind::kWarning, text);
    return false;
  }
  return true;
}

bool CheckTypedValues(FormOps& form, DeviceSession* into) {
  DeviceSession& session = *into;
  const std::string address = form.FieldText(FieldId::kAddress);
  if (address.size() > DeviceSession::kMaxAddressBytes) {
    form.ShowBox(BoxKind::kWarning, "Too many characters in Address.");
    return false;
  }
  session.address = address;
  if (!TakeCredential(form, FieldId::kLoginId, "Login ID", &session.login_id) ||
      !TakeCredential(form, FieldId::kPassword, "Password", &session.password))
    return false;
  session.ftp_port = PortOf(form.FieldText(FieldId::kFtpPort));
  session.http_port = PortOf(form.FieldText(FieldId::kHttpPort));
  return true;
}

void LaunchUpdate(LaunchContext& context) {
  FormOps& form = context.form;
  if (context.runner.state() == UpdateRunner::State::kRunning) {
    form.ShowBox(BoxKind::kWarning, "An update is already in progress.");
    return;
  }
  context.runner.causes().Clear();
  form.SetFieldText(FieldId::kNotice, "");
  form.SetFieldText(FieldId::kStatus, "");
  const std::optional<ChosenFile> file = form.ChooseFile(
      {context.program_directory, "xml", "*.xml", "XML File(*.xml)"});
  if (!file) return;
  DeviceSession session;
  if (!CheckChosenFile(form, context.runner.causes(), *file) ||
      !CheckTypedValues(form, &session))
    return;
  StartUpdate(context, session, *file);
}

}  // namespace hj5
