#include "device/report.h"

#include <utility>

namespace hj5 {

void ReportError(FormOps& form, const std::string& text) {
  form.ShowBox(BoxKind::kWarning, text);
  form.SetUpdateEnabled(true);
  form.SetFieldText(FieldId::kStatus, text);
  form.SetFieldText(FieldId::kNotice, "");
}

void ReportError(const UpdateContext& context, const std::string& text,
                 std::string cause) {
  context.causes.Add(text, std::move(cause));
  ReportError(context.form, text);
}

}  // namespace hj5
