#ifndef HJ5_PLATFORM_FORM_OPS_H_
#define HJ5_PLATFORM_FORM_OPS_H_

#include <optional>
#include <string>

namespace hj5 {

// Numeric identifiers of the form's controls.
enum class ControlId {
  kClose = 1,  // the form's OK button
  kAddress = 1000,
  kLoginId = 1001,
  kPassword = 1002,
  kStatus = 1003,
  kNotice = 1004,
  kFtpPort = 1006,
  kHttpPort = 1007,
  kUpdate = 1009,  // "XML-UPDATE"
};

// The text fields among them.
using FieldId = ControlId;

inline constexpr int kRestartTimerId = 2004;
inline constexpr int kSendFirmwareMessage = 102;

enum class BoxKind { kWarning, kInformation };

// What the file chooser is opened with.
struct FileChooserRequest {
  std::string initial_directory;  // empty: the toolkit's choice
  std::string default_suffix;     // "xml"
  std::string initial_name;       // "*.xml"
  std::string filter;             // "XML File(*.xml)"
};

// What the operator chose: the full path and the bare file name.
struct ChosenFile {
  std::string path;
  std::string name;
  // False when the name has a character with no form in the bytes the
  // device gets (the ANSI code page of the Windows form): such a file is
  // refused before any traffic.
  bool name_fits = true;
};

// The operations the logic needs of the main form. Every box carries the
// caption "XML File Update" and one OK button.
//
// Threading: unless a method says otherwise it may be called from the UI
// thread or from the worker thread. It is synchronous: it returns once the UI
// thread has carried it out. Once the form is closing, every call returns at
// once without touching a window, and every result reads as a failure.
class FormOps {
 public:
  FormOps() = default;
  FormOps(const FormOps&) = delete;
  FormOps& operator=(const FormOps&) = delete;
  virtual ~FormOps() = default;

  // Shows a modal warning or information box with `text`; returns when the
  // operator has dismissed it.
  virtual void ShowBox(BoxKind kind, const std::string& text) = 0;

  // Sets the text of a field (the status and notice lines among them).
  virtual void SetFieldText(FieldId field, const std::string& text) = 0;

  // Reads the text of a field as the bytes the device gets: UTF-8 on Linux,
  // the ANSI code page on Windows. Returns an empty text once the form is
  // closing.
  virtual std::string FieldText(FieldId field) = 0;

  // False when a character of the field has no form in those bytes, so that
  // FieldText() cannot give it (a character outside the ANSI code page):
  // the field is refused, never sent with a stand-in. True once the form is
  // closing.
  virtual bool FieldTextFits(FieldId field) = 0;

  // Enables or disables the "XML-UPDATE" button (control 1009).
  virtual void SetUpdateEnabled(bool enabled) = 0;

  // Resets the restart counter to 0 and starts timer 2004 with a period of
  // 1,000 ms: each tick adds one to the counter and shows "Restarting(%d)" in
  // the status line.
  virtual void StartRestartTimer() = 0;

  // Stops timer 2004. The status line keeps its last text.
  virtual void StopRestartTimer() = 0;

  // Sends message 102 to the form and waits until its handler (the file
  // upload) has returned. Returns the handler's result, 0 when the file was
  // stored; -1 when the message could not be delivered (the form is closing),
  // so an undelivered message never reads as a stored file.
  virtual int SendFirmwareMessage() = 0;

  // Opens the file-open chooser. Returns the chosen file, or nullopt when the
  // operator cancelled. UI thread only.
  virtual std::optional<ChosenFile> ChooseFile(
      const FileChooserRequest& request) = 0;

  // Releases every caller waiting for the UI thread (a box, a line, message
  // 102) and makes every later call return at once, as when the form closes:
  // an update that is being stopped must not wait for a person. Any thread;
  // never blocks. Cannot be undone.
  virtual void Interrupt() = 0;
};

}  // namespace hj5

#endif  // HJ5_PLATFORM_FORM_OPS_H_
