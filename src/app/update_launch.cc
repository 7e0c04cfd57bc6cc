#include "app/update_launch.h"

#include <cctype>

#include "xmlcheck/xml_file_check.h"

namespace hj5 {
namespace {

constexpr std::size_t kMaxFileNameBytes = 63;

bool HasControlByte(const std::string& text) {
  for (unsigned char c : text)
    if (c < 0x20) return true;
  return false;
}

// A control byte or DEL: nothing an operator types into a credential, and
// nothing the device's FTP server may see.
bool HasCredentialControlByte(const std::string& text) {
  return HasControlByte(text) || text.find('\x7f') != std::string::npos;
}

// A name that would reach outside the device's directory, or carries bytes
// no device name has.
bool IsUnsafeFileName(const std::string& name) {
  return name.find_first_of("\\:") != std::string::npos || HasControlByte(name);
}

// The leading decimal digits of `text`, as atoi reads them, low 16 bits kept.
std::uint16_t PortOf(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+'))
    negative = text[i++] == '-';
  std::uint32_t value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]));
       ++i)
    value = (value * 10 + (text[i] - '0')) & 0xFFFF;
  return static_cast<std::uint16_t>(negative ? 0x10000 - value : value);
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

// The checks of the chosen file; false after a refusal box.
bool TakeFile(LaunchContext& context, const ChosenFile& file) {
  FormOps& form = context.form;
  if (file.name.size() > kMaxFileNameBytes) {
    form.ShowBox(BoxKind::kWarning, "Too many characters in File name.");
    return false;
  }
  if (IsUnsafeFileName(file.name)) {
    form.ShowBox(BoxKind::kWarning, "File Name Error.");
    return false;
  }
  context.chosen = file;
  if (XmlFileCheck(form, file.path) < 0) {
    form.ShowBox(BoxKind::kWarning, "XML File Format Error.");
    return false;
  }
  return true;
}

// The checks of the typed values; false after a refusal box.
bool TakeFields(LaunchContext& context) {
  FormOps& form = context.form;
  DeviceSession& session = context.session;
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

// Starts the worker; the worker's last act clears `running`.
void StartUpdate(LaunchContext& context) {
  FormOps& form = context.form;
  form.SetUpdateEnabled(false);
  context.running = true;
  std::atomic<bool>& running = context.running;
  std::function<void()> update = context.update;
  if (!form.StartWorker([update, &running] {
        update();
        running = false;
      })) {
    running = false;
    form.ShowBox(BoxKind::kWarning, "Update Failure.");
    form.SetFieldText(FieldId::kNotice, "");
    form.SetUpdateEnabled(true);
    return;
  }
  form.SetFieldText(FieldId::kNotice, "Please wait for a while.");
}

}  // namespace

void LaunchUpdate(LaunchContext& context) {
  FormOps& form = context.form;
  if (context.running) {
    form.ShowBox(BoxKind::kWarning, "An update is already in progress.");
    return;
  }
  form.SetFieldText(FieldId::kNotice, "");
  form.SetFieldText(FieldId::kStatus, "");
  const std::optional<ChosenFile> file = form.ChooseFile(
      {context.program_directory, "xml", "*.xml", "XML File(*.xml)"});
  if (!file) return;
  if (!TakeFile(context, *file) || !TakeFields(context)) return;
  StartUpdate(context);
}

}  // namespace hj5
