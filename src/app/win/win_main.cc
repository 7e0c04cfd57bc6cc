// The tool on Windows: the product's adapters, then the form, shown
// modally; the tool ends when the form closes.

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <cstring>

#include "app/win/win_update_form.h"
#include "hj5_version.h"
#include "launch/product_platform.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int) {
  if (std::strcmp(command_line, "--version") == 0) {
    // A window program has no console of its own: the line goes where its
    // output is redirected, else to the console of the one that started it.
    static const char kLine[] = "hj5-xml-update " HJ5_VERSION "\r\n";
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if ((!out || out == INVALID_HANDLE_VALUE) &&
        AttachConsole(ATTACH_PARENT_PROCESS)) {
      out = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, 0, nullptr);
    }
    DWORD written = 0;
    return WriteFile(out, kLine, sizeof kLine - 1, &written, nullptr) ? 0 : 1;
  }
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  hj5::ProductPlatform platform;
  hj5::WinUpdateForm form(instance, platform.platform(), GetACP());
  form.Run();
  return 0;
}
