#include "device/report.h"

namespace hj5 {

void ReportError(FormOps& form, const std::string& text) {
  form.ShowBox(BoxKind::kWarning, text);
  form.SetUpdateEnabled(true);
  form.SetFieldText(FieldId::kStatus, text);
  form.SetFieldText(FieldId::kNotice, "");
}

}  // namespace hj5
