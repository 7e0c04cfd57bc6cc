#ifndef HJ5_DEVICE_REPORT_H_
#define HJ5_DEVICE_REPORT_H_

#include <string>

#include "platform/form_ops.h"

namespace hj5 {

// Tells the operator of a failure, in this order: warning box with `text`,
// control 1009 enabled, status line := `text`, notice line emptied.
void ReportError(FormOps& form, const std::string& text);

}  // namespace hj5

#endif  // HJ5_DEVICE_REPORT_H_
