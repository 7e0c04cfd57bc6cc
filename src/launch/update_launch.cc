#include "launch/update_launch.h"

namespace hj5 {
namespace {

void Show(FormOps& form, const Refusal& refusal) {
  for (const Status& box : refusal.boxes)
    form.ShowBox(BoxKind::kWarning, box.text(), box.cause());
}

// Starts the update on the runner.
void StartUpdate(LaunchContext& context, const DeviceSession& session,
                 const ChosenFile& file) {
  FormOps& form = context.form;
  form.SetUpdateEnabled(false);
  if (!context.runner.Start(session, file)) {
    form.ShowBox(BoxKind::kWarning, "Update Failure.",
                 "the worker thread could not be started");
    form.SetFieldText(FieldId::kNotice, "");
    form.SetUpdateEnabled(true);
    return;
  }
  form.SetFieldText(FieldId::kNotice, "Please wait for a while.");
}

}  // namespace

FileChooserRequest ChooserRequest(const std::string& program_directory) {
  return {program_directory, "XML", "*.xml", "XML File(*.xml)"};
}

TypedValues TypedIn(FormInput& input) {
  TypedValues typed;
  typed.address = input.FieldText(FieldId::kAddress);
  typed.login_id = input.FieldText(FieldId::kLoginId);
  typed.password = input.FieldText(FieldId::kPassword);
  typed.ftp_port = PortOf(input.FieldText(FieldId::kFtpPort).value_or(""));
  typed.http_port = PortOf(input.FieldText(FieldId::kHttpPort).value_or(""));
  return typed;
}

void LaunchUpdate(LaunchContext& context) {
  FormOps& form = context.form;
  if (context.runner.state() == UpdateRunner::State::kRunning) {
    form.ShowBox(BoxKind::kWarning, "An update is already in progress.", "");
    return;
  }
  form.SetFieldText(FieldId::kNotice, "");
  form.SetFieldText(FieldId::kStatus, "");
  const std::optional<ChosenFile> file =
      context.input.ChooseFile(ChooserRequest(context.program_directory));
  if (!file) return;
  if (const std::optional<Refusal> refused = CheckChosenFile(*file))
    return Show(form, *refused);
  std::variant<DeviceSession, Refusal> checked =
      CheckTypedValues(TypedIn(context.input));
  if (const auto* refused = std::get_if<Refusal>(&checked))
    return Show(form, *refused);
  StartUpdate(context, std::get<DeviceSession>(checked), *file);
}

}  // namespace hj5
