#ifndef HJ5_APP_WIN_WIN_UPDATE_FORM_H_
#define HJ5_APP_WIN_WIN_UPDATE_FORM_H_

#include <windows.h>

#include <optional>
#include <string>

#include "app/win/win_form_ops.h"
#include "launch/update_launch.h"
#include "platform/platform.h"
#include "update/form_ops.h"
#include "update/update_runner.h"

namespace hj5 {

// The main form on Windows: dialog template 102 with the connection fields,
// the status and notice lines, "XML-UPDATE" (1009) and "Close". Text goes to
// the device in the ANSI code page `code_page`; local paths stay UTF-16.
//
// The form holds the update runner; the adapters are the caller's and must
// outlive the form. Closing it (Close, Enter, Escape, the close box) while
// an update runs stops the runner: every form operation then returns at
// once, the clock, the exchange and the upload are interrupted, open boxes
// and the chooser are closed, and the form serves its messages (message 102
// among them, which then returns -1) until the worker has ended,
// UpdateRunner::kStopWait at most, then joins it. A close that comes while a
// box, the chooser or message 102 is open on the UI thread is finished once
// that has returned.
class WinUpdateForm : private FormOps, private FormInput {
 public:
  WinUpdateForm(HINSTANCE instance, const Platform& platform,
                unsigned code_page);
  // With another procedure than the update (the form's own tests).
  WinUpdateForm(HINSTANCE instance, const Platform& platform,
                unsigned code_page, UpdateRunner::Procedure procedure);
  ~WinUpdateForm() override;

  // Shows the form modally; returns once it has closed.
  void Run();

  // The form's window while it is shown (UI thread), and its runner.
  HWND window() const { return window_; }
  UpdateRunner& runner() { return runner_; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam,
                                     LPARAM lparam);
  INT_PTR Handle(UINT message, WPARAM wparam, LPARAM lparam);
  void OnInit();
  void FitMakerLabel();
  void OnUpdateClicked();
  void OnRestartTick();
  void OnSendFirmware(Status* result);
  bool OnPaintMinimised();
  void OnCloseRequest();
  void FinishClose();
  void EndNested();
  class Nested;

  // The form's own operations; UI thread only. ops_ wraps them.
  void ShowBox(BoxKind kind, const std::string& text,
               const std::string& cause) override;
  void SetFieldText(FieldId field, const std::string& text) override;
  void SetUpdateEnabled(bool enabled) override;
  void StartRestartTimer() override;
  void StopRestartTimer() override;
  Status SendFirmwareMessage() override;
  void Interrupt() override;

  // What the click reads of the form (UI thread).
  std::optional<ChosenFile> ChooseFile(
      const FileChooserRequest& request) override;
  std::optional<std::string> FieldText(FieldId field) override;

  std::wstring FieldWide(FieldId field) const;

  const HINSTANCE instance_;
  const unsigned code_page_;
  HWND window_ = nullptr;
  HICON icon_large_ = nullptr;
  HICON icon_small_ = nullptr;
  int restart_counter_ = 0;
  std::string program_directory_;  // UTF-8
  int nesting_ = 0;                // boxes, chooser and message 102 open
  bool close_pending_ = false;
  bool closed_ = false;
  WinFormOps ops_;
  UpdateRunner runner_;  // after ops_: stopped and joined before it goes
};

}  // namespace hj5

#endif  // HJ5_APP_WIN_WIN_UPDATE_FORM_H_
