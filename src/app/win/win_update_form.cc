#include "app/win/win_update_form.h"

#include <commdlg.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>

#include "app/form_defaults.h"
#include "app/form_table.h"
#include "app/win/dialog_template.h"
#include "app/win/program_directory.h"
#include "app/win/resource.h"
#include "platform/code_page.h"
#include "update/update_sequence.h"

namespace hj5 {
namespace {

// Finishes a close that came while a box, the chooser or message 102 was
// open on the UI thread.
constexpr UINT kFinishClose = WM_APP + 2;

// Room for the chooser's path: as long a path as the system takes.
constexpr DWORD kChooserPathChars = 32768;

// Serves the thread's messages until `ended` or `limit` has passed: the
// worker may be waiting for the UI thread (message 102, a posted call).
void ServeMessages(const std::function<bool()>& ended,
                   std::chrono::milliseconds limit) {
  const ULONGLONG deadline = GetTickCount64() + limit.count();
  while (!ended() && GetTickCount64() < deadline) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(message.wParam));
        return;
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

// Closes a box or chooser the form owns.
BOOL CALLBACK CloseOwned(HWND window, LPARAM form) {
  if (window != reinterpret_cast<HWND>(form) &&
      GetWindow(window, GW_OWNER) == reinterpret_cast<HWND>(form)) {
    PostMessageW(window, WM_CLOSE, 0, 0);
  }
  return TRUE;
}

// The child control whose text is `text`, or nullptr.
HWND ChildWithText(HWND parent, std::wstring_view text) {
  for (HWND child = GetWindow(parent, GW_CHILD); child;
       child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t buffer[64] = {};
    GetWindowTextW(child, buffer, 64);
    if (std::wstring_view(buffer) == text) return child;
  }
  return nullptr;
}

// `child`'s rectangle in its parent's client coordinates.
RECT PlaceOf(HWND parent, HWND child) {
  RECT rect;
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// Shows a form that has no place of its own in the middle of the screen's
// work area, as dialogs of this kind open.
void CentreOnWorkArea(HWND window) {
  RECT area;
  RECT place;
  if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0) ||
      !GetWindowRect(window, &place))
    return;
  const LONG width = place.right - place.left;
  const LONG height = place.bottom - place.top;
  SetWindowPos(window, nullptr,
               area.left + (area.right - area.left - width) / 2,
               area.top + (area.bottom - area.top - height) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

// Counts what is open on the UI thread's stack; the last one to go
// finishes a close that came meanwhile.
class WinUpdateForm::Nested {
 public:
  explicit Nested(WinUpdateForm& form) : form_(form) { ++form_.nesting_; }
  ~Nested() { form_.EndNested(); }
  Nested(const Nested&) = delete;
  Nested& operator=(const Nested&) = delete;

 private:
  WinUpdateForm& form_;
};

WinUpdateForm::WinUpdateForm(HINSTANCE instance, const Platform& platform,
                             unsigned code_page)
    : WinUpdateForm(instance, platform, code_page, &UpdateSequence) {}

WinUpdateForm::WinUpdateForm(HINSTANCE instance, const Platform& platform,
                             unsigned code_page,
                             UpdateRunner::Procedure procedure)
    : instance_(instance),
      code_page_(code_page),
      ops_(static_cast<FormOps&>(*this)),
      runner_(ops_, platform, std::move(procedure)) {}

WinUpdateForm::~WinUpdateForm() {
  runner_.Stop();
  if (icon_large_) DestroyIcon(icon_large_);
  if (icon_small_) DestroyIcon(icon_small_);
}

void WinUpdateForm::Run() {
  const std::vector<WORD> dialog = FormDialogTemplate(IDB_MAKER_LOGO);
  DialogBoxIndirectParamW(instance_,
                          reinterpret_cast<const DLGTEMPLATE*>(dialog.data()),
                          nullptr, &DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK WinUpdateForm::DialogProc(HWND window, UINT message,
                                           WPARAM wparam, LPARAM lparam) {
  WinUpdateForm* form;
  if (message == WM_INITDIALOG) {
    form = reinterpret_cast<WinUpdateForm*>(lparam);
    form->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, static_cast<LONG_PTR>(lparam));
  } else {
    form = reinterpret_cast<WinUpdateForm*>(
        GetWindowLongPtrW(window, GWLP_USERDATA));
  }
  return form ? form->Handle(message, wparam, lparam) : FALSE;
}

INT_PTR WinUpdateForm::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      OnInit();
      return TRUE;  // the default focus: the Address field
    case WM_COMMAND:
      if (LOWORD(wparam) == static_cast<int>(ControlId::kUpdate) &&
          HIWORD(wparam) == BN_CLICKED) {
        OnUpdateClicked();
        return TRUE;
      }
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
        OnCloseRequest();
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      OnCloseRequest();
      return TRUE;
    case WM_TIMER:
      if (wparam == kRestartTimerId) OnRestartTick();
      return FALSE;  // every timer goes on to the default handling
    case kSendFirmwareMessage:
      OnSendFirmware(reinterpret_cast<Status*>(lparam));
      return TRUE;
    case DialogUiThread::kRunPosted:
      ops_.RunPosted();
      return TRUE;
    case kFinishClose:
      FinishClose();
      return TRUE;
    case WM_PAINT:
      return OnPaintMinimised();
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(icon_large_);
    case WM_DESTROY:
      KillTimer(window_, kRestartTimerId);
      ops_.Attach(nullptr);
      return FALSE;
    default:
      return FALSE;
  }
}

void WinUpdateForm::OnInit() {
  ops_.Attach(window_);
  icon_large_ = static_cast<HICON>(
      LoadImageW(instance_, MAKEINTRESOURCEW(IDI_TOOL), IMAGE_ICON,
                 GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  icon_small_ = static_cast<HICON>(LoadImageW(
      instance_, MAKEINTRESOURCEW(IDI_TOOL), IMAGE_ICON,
      GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  SendMessageW(window_, WM_SETICON, ICON_BIG,
               reinterpret_cast<LPARAM>(icon_large_));
  SendMessageW(window_, WM_SETICON, ICON_SMALL,
               reinterpret_cast<LPARAM>(icon_small_));
  SetFieldText(FieldId::kAddress, kDefaultAddress);
  SetFieldText(FieldId::kFtpPort, kDefaultFtpPort);
  SetFieldText(FieldId::kHttpPort, kDefaultHttpPort);
  SetFieldText(FieldId::kNotice, "");
  SetFieldText(FieldId::kStatus, "");
  // A program deeper than MAX_PATH still opens the chooser in its folder.
  std::wstring path(kChooserPathChars, L'\0');
  const DWORD length =
      GetModuleFileNameW(nullptr, path.data(), kChooserPathChars);
  path.resize(length < kChooserPathChars ? length : 0);
  program_directory_ = Utf8Of(ProgramDirectoryOf(std::move(path)));
  FitMakerLabel();
  CentreOnWorkArea(window_);
}

// The maker's name is wider than its place in some fonts, and a label
// breaks its text into lines: the label grows to the right, up to the Close
// button, so that the whole name shows on one line.
void WinUpdateForm::FitMakerLabel() {
  const std::wstring maker = FromCodePage(MakerLabel().text, code_page_);
  const HWND label = ChildWithText(window_, maker);
  if (!label) return;
  const HDC dc = GetDC(label);
  const HGDIOBJ old = SelectObject(
      dc, reinterpret_cast<HGDIOBJ>(SendMessageW(label, WM_GETFONT, 0, 0)));
  SIZE needed{};
  GetTextExtentPoint32W(dc, maker.c_str(), static_cast<int>(maker.size()),
                        &needed);
  SelectObject(dc, old);
  ReleaseDC(label, dc);
  const RECT place = PlaceOf(window_, label);
  const RECT close = PlaceOf(window_, GetDlgItem(window_, IDOK));
  const LONG width = place.right - place.left;
  const LONG room = close.left - 2 - place.left;
  if (needed.cx + 1 <= width) return;
  SetWindowPos(label, nullptr, 0, 0,
               needed.cx + 1 < room ? needed.cx + 1 : room,
               place.bottom - place.top, SWP_NOMOVE | SWP_NOZORDER);
}

void WinUpdateForm::OnUpdateClicked() {
  LaunchContext context{ops_, *this, runner_, program_directory_};
  LaunchUpdate(context);
}

void WinUpdateForm::OnRestartTick() {
  ++restart_counter_;
  char text[128] = {};
  std::snprintf(text, sizeof text, "Restarting(%d)", restart_counter_);
  SetFieldText(FieldId::kStatus, text);
}

// Message 102: the upload, unless the form is closing.
void WinUpdateForm::OnSendFirmware(Status* result) {
  Status sent = ops_.closing() ? NotDelivered() : SendFirmwareMessage();
  if (result) *result = std::move(sent);
}

bool WinUpdateForm::OnPaintMinimised() {
  if (!IsIconic(window_)) return false;
  PAINTSTRUCT paint;
  const HDC dc = BeginPaint(window_, &paint);
  SendMessageW(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  GetClientRect(window_, &client);
  const int x =
      (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y =
      (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(dc, x, y, icon_large_);
  EndPaint(window_, &paint);
  return true;
}

// --- Closing -------------------------------------------------------------

void WinUpdateForm::OnCloseRequest() {
  ops_.Interrupt();
  if (nesting_ > 0) {
    close_pending_ = true;  // EndNested() finishes it
    return;
  }
  FinishClose();
}

void WinUpdateForm::EndNested() {
  if (--nesting_ == 0 && close_pending_) {
    close_pending_ = false;
    PostMessageW(window_, kFinishClose, 0, 0);
  }
}

// Stops the update for good, serving messages while the worker ends, and
// ends the form.
void WinUpdateForm::FinishClose() {
  if (closed_) return;
  closed_ = true;
  runner_.Stop(&ServeMessages);
  EndDialog(window_, IDOK);
}

// --- The form's own operations (UI thread) ---------------------------------
// ops_ calls them only while the form is not interrupted.

void WinUpdateForm::ShowBox(BoxKind kind, const std::string& text,
                            const std::string&) {
  Nested nested(*this);
  const UINT icon =
      kind == BoxKind::kWarning ? MB_ICONEXCLAMATION : MB_ICONINFORMATION;
  MessageBoxW(window_, FromCodePage(text, code_page_).c_str(),
              FromCodePage(kBoxCaption, code_page_).c_str(), MB_OK | icon);
}

void WinUpdateForm::SetFieldText(FieldId field, const std::string& text) {
  SetDlgItemTextW(window_, static_cast<int>(field),
                  FromCodePage(text, code_page_).c_str());
}

std::wstring WinUpdateForm::FieldWide(FieldId field) const {
  const HWND control = GetDlgItem(window_, static_cast<int>(field));
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1,
                    L'\0');
  text.resize(static_cast<std::size_t>(
      GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::optional<std::string> WinUpdateForm::FieldText(FieldId field) {
  return ToCodePage(FieldWide(field), code_page_);
}

void WinUpdateForm::SetUpdateEnabled(bool enabled) {
  EnableWindow(GetDlgItem(window_, static_cast<int>(ControlId::kUpdate)),
               enabled);
}

void WinUpdateForm::StartRestartTimer() {
  restart_counter_ = 0;
  SetTimer(window_, kRestartTimerId, kRestartPeriodMs, nullptr);
}

void WinUpdateForm::StopRestartTimer() { KillTimer(window_, kRestartTimerId); }

Status WinUpdateForm::SendFirmwareMessage() {
  Nested nested(*this);
  return runner_.SendFirmware();
}

std::optional<ChosenFile> WinUpdateForm::ChooseFile(
    const FileChooserRequest& request) {
  Nested nested(*this);
  // One entry: its label, then the pattern that lists the files.
  std::wstring filter = FromCodePage(request.filter, code_page_);
  filter += L'\0';
  filter += FromCodePage(request.initial_name, code_page_);
  filter += L'\0';
  const std::wstring directory = WideOfUtf8(request.initial_directory);
  const std::wstring suffix = FromCodePage(request.default_suffix, code_page_);
  std::wstring file = FromCodePage(request.initial_name, code_page_);
  file.resize(kChooserPathChars, L'\0');
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = window_;
  dialog.lpstrFilter = filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = kChooserPathChars;
  dialog.lpstrInitialDir = directory.empty() ? nullptr : directory.c_str();
  dialog.lpstrDefExt = suffix.c_str();
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
  if (!GetOpenFileNameW(&dialog)) {
    // 0: cancelled, or closed by the form. Otherwise nothing was chosen
    // that can be used, and the operator is told so: a path longer than
    // the buffer (whose first characters then hold the length it needs, not
    // a path), or a chooser that could not be shown.
    const DWORD error = CommDlgExtendedError();
    if (error == FNERR_BUFFERTOOSMALL) {
      ops_.ShowBox(BoxKind::kWarning, "File Name Error.",
                   "the chosen path is longer than the chooser's buffer");
    } else if (error == FNERR_INVALIDFILENAME) {
      ops_.ShowBox(BoxKind::kWarning, "File Name Error.",
                   "the chooser took no valid file name");
    } else if (error != 0) {
      ops_.ShowBox(BoxKind::kWarning, "File Open Failure.",
                   "the file chooser failed: error " + std::to_string(error));
    }
    return std::nullopt;
  }
  file.resize(file.find(L'\0'));
  // The name goes to the device; the path stays on this machine.
  const std::optional<std::string> name = ToCodePage(
      std::wstring_view(file).substr(dialog.nFileOffset), code_page_);
  return ChosenFile{Utf8Of(file), name.value_or(""), name.has_value()};
}

// The update is being stopped: no box or chooser stays open, no tick comes.
void WinUpdateForm::Interrupt() {
  KillTimer(window_, kRestartTimerId);
  EnumThreadWindows(GetCurrentThreadId(), &CloseOwned,
                    reinterpret_cast<LPARAM>(window_));
}

}  // namespace hj5
