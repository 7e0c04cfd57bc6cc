#ifndef HJ5_APP_UPDATE_FORM_H_
#define HJ5_APP_UPDATE_FORM_H_

#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "device/device_session.h"
#include "platform/clock.h"
#include "platform/form_ops.h"
#include "platform/ftp_client.h"
#include "platform/http_transport.h"

class QFont;
class QLineEdit;
class QPushButton;
class QRect;

namespace hj5 {

// What an update reaches the device and time through. The product passes
// the real adapters; tests pass fakes. The objects must outlive the form.
struct FormPlatform {
  HttpTransport& transport;
  FtpClient& ftp;
  Clock& clock;
  // The limit of one exchange in seconds (20 in the product).
  std::uint16_t limit_seconds = HttpTransport::kDefaultLimitSeconds;
};

// The dialog base units of a font, derived as Windows derives them for a
// dialog: x is the average width of "A".."Z" "a".."z" rounded to a whole
// pixel, y the font's height.
struct DialogBaseUnits {
  int x = 0;
  int y = 0;
};
DialogBaseUnits BaseUnitsOf(const QFont& font);

// Turns a rectangle in dialog units into pixels: x and widths times x / 4,
// y and heights times y / 8, each rounded to the nearest pixel.
QRect DialogUnitsToPixels(const QRect& units, DialogBaseUnits base);

// The main form "HJ-5 XML File Update": the connection fields, the status
// and notice lines, "XML-UPDATE" (1009) and "Close". Each control carries its
// number as the property "controlId" and is named "control<id>" (controls
// without a number have -1 and a descriptive name).
//
// The form owns the session, the chosen file, the running flag, the worker
// thread and (in the product) the platform adapters. Closing it (Close,
// Enter, Escape, the close box) while an update runs stops the worker: every
// form operation then returns at once, the clock, the exchange and the upload
// are interrupted, open boxes are closed, and the form serves events for at
// most kCloseWaitMs until the worker has ended, then joins it.
class UpdateForm : public QDialog, private FormOps {
  Q_OBJECT

 public:
  // How long a close waits for a stopping worker.
  static constexpr int kCloseWaitMs = 2000;

  // The product: the Asio transport, the libcurl FTP client and the steady
  // clock, owned by the form.
  explicit UpdateForm(QWidget* parent = nullptr);
  // Tests: the given platform objects.
  explicit UpdateForm(const FormPlatform& platform, QWidget* parent = nullptr);
  ~UpdateForm() override;

  // The form operations, callable from any thread (see QtFormOps).
  FormOps& form_ops();

  // The connection values of the last update (UI thread, while no update
  // runs).
  const DeviceSession& session() const;

  // Warning box with `text`, control 1009 enabled, status line := `text`,
  // notice line emptied. Any thread.
  void ReportError(const std::string& text);

  // Ends the form; stops a running update first (see the class comment).
  void done(int result) override;

 private:
  struct Shared;
  class RealPlatform;

  UpdateForm(std::shared_ptr<RealPlatform> real, QWidget* parent);
  UpdateForm(std::shared_ptr<void> owned, const FormPlatform& platform,
             QWidget* parent);

  void BuildControls();
  void ApplyDefaults();
  QLineEdit* Field(FieldId field) const;
  void OnUpdateClicked();
  void OnRestartTick();
  int ShowTrackedDialog(QDialog& dialog);
  void BeginStop();
  void FinishWorker();
  void WaitForWorkerEnd();

  // The form's own operations; UI thread only. form_ops() wraps them.
  void ShowBox(BoxKind kind, const std::string& text) override;
  void SetFieldText(FieldId field, const std::string& text) override;
  std::string FieldText(FieldId field) override;
  void SetUpdateEnabled(bool enabled) override;
  void StartRestartTimer() override;
  void StopRestartTimer() override;
  int SendFirmwareMessage() override;
  std::optional<ChosenFile> ChooseFile(
      const FileChooserRequest& request) override;
  bool StartWorker(std::function<void()> procedure) override;

  std::shared_ptr<Shared> shared_;
  std::map<FieldId, QLineEdit*> fields_;
  QPushButton* update_button_ = nullptr;
  QTimer restart_timer_;
  int restart_counter_ = 0;
  std::string program_directory_;
  std::vector<QPointer<QDialog>> open_dialogs_;
  std::thread worker_;
  bool stopping_ = false;
};

}  // namespace hj5

#endif  // HJ5_APP_UPDATE_FORM_H_
