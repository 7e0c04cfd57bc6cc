#include "support/fake_form.h"

namespace hj5::test {
namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

void FakeForm::ShowBox(BoxKind kind, const std::string& text,
                       const std::string& cause) {
  causes.push_back(cause);
  const char* name = kind == BoxKind::kWarning ? "warning" : "information";
  transcript_.Add(std::string("box ") + name + " " + Quoted(text));
}

void FakeForm::SetFieldText(FieldId field, const std::string& text) {
  fields_[field] = text;
  if (field == FieldId::kStatus) {
    transcript_.Add("status " + Quoted(text));
  } else if (field == FieldId::kNotice) {
    transcript_.Add("notice " + Quoted(text));
  } else {
    transcript_.Add("field " + std::to_string(static_cast<int>(field)) + " " +
                    Quoted(text));
  }
}

std::optional<std::string> FakeForm::FieldText(FieldId field) {
  if (unfitting_fields.contains(field)) return std::nullopt;
  return fields_[field];
}

void FakeForm::SetUpdateEnabled(bool enabled) {
  button_enabled = enabled;
  transcript_.Add(enabled ? "button 1009 enabled" : "button 1009 disabled");
}

void FakeForm::StartRestartTimer() { transcript_.Add("timer start"); }

void FakeForm::StopRestartTimer() { transcript_.Add("timer stop"); }

Status FakeForm::SendFirmwareMessage() {
  const Status result = on_firmware_message ? on_firmware_message() : Status();
  transcript_.Add(std::string("message 102 -> ") + (result.ok() ? "0" : "-1"));
  return result;
}

std::optional<ChosenFile> FakeForm::ChooseFile(
    const FileChooserRequest& request) {
  last_chooser_request = request;
  transcript_.Add("chooser");
  return chooser_answer;
}

}  // namespace hj5::test
