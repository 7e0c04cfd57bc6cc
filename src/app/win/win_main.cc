// The tool on Windows: the product's adapters, then the form, shown
// modally; the tool ends when the form closes.

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include "app/win/win_update_form.h"
#include "launch/product_platform.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  hj5::ProductPlatform platform;
  hj5::WinUpdateForm form(instance, platform.platform(), GetACP());
  form.Run();
  return 0;
}
