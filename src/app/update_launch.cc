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

// A warning box "<what><label>."; false, for the caller to return.
bool Refuse(FormOps& form, const char* what, const char* label) {
  form.ShowBox(BoxKind::kWarning, std::string(what) + label + ".");
  return false;
}

// Checks a typed credential and copies it; false after a refusal box.
bool TakeCredential(FormOps& form, FieldId field, const char* label,
                    std::string* into) {
  if (!form.FieldTextFits(field))
    return Refuse(form, "Invalid character in ", label);
  const std::string text = form.FieldText(field);
  if (text.size() > DeviceSession::kMaxCredentialBytes)
    return Refuse(form, "Too many characters in ", label);
  if (HasCredentialControlByte(text))
    return Refuse(form, "Invalid character in ", label);
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
  if (!file.name_fits || IsUnsafeFileName(file.name)) {
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
  if (!form.FieldTextFits(FieldId::kAddress))
    return Refuse(form, "Invalid character in ", "Address");
  const std::string address = form.FieldText(FieldId::kAddress);
  if (address.size() > DeviceSession::kMaxAddressBytes)
    return Refuse(form, "Too many characters in ", "Address");
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
