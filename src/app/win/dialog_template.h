#ifndef HJ5_APP_WIN_DIALOG_TEMPLATE_H_
#define HJ5_APP_WIN_DIALOG_TEMPLATE_H_

#include <windows.h>

#include <vector>

namespace hj5 {

// The form's dialog template (DLGTEMPLATEEX), built from the form's table
// of controls: "HJ-5 XML File Update", 185 x 125 dialog units in "MS Sans
// Serif" 9 point, a modal frame with title bar and system menu, shown on
// the task bar; the logo is bitmap `logo_bitmap`. DWORD-aligned, for
// DialogBoxIndirectParamW.
std::vector<WORD> FormDialogTemplate(WORD logo_bitmap);

}  // namespace hj5

#endif  // HJ5_APP_WIN_DIALOG_TEMPLATE_H_
