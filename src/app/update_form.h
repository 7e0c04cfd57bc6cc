#ifndef HJ5_APP_UPDATE_FORM_H_
#define HJ5_APP_UPDATE_FORM_H_

#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/form_layout.h"
#include "app/qt_form_ops.h"
#include "device/device_session.h"
#include "launch/update_launch.h"
#include "platform/platform.h"
#include "update/form_ops.h"
#include "update/update_runner.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace hj5 {

// The main form "HJ-5 XML File Update": the connection fields, the status
// and notice lines, "XML-UPDATE" (1009) and "Close". Each control carries its
// number as the property "controlId" and is named "control<id>" (controls
// without a number have -1 and a descriptive name).
//
// The form holds the update runner; the adapters are the front end's and
// must outlive the form. Closing it (Close, Enter, Escape, the close box)
// while an update runs stops the runner: every form operation then returns
// at once, the clock, the exchange and the upload are interrupted, open
// boxes are closed, and the form serves events until the worker has ended
// (UpdateRunner::kStopWait at most), then joins it.
class UpdateForm : public QDialog, private FormOps, private FormInput {
  Q_OBJECT

 public:
  explicit UpdateForm(const Platform& platform, QWidget* parent = nullptr);
  ~UpdateForm() override;

  // The form operations, callable from any thread (see QtFormOps).
  FormOps& form_ops();

  // The connection values of the last update (UI thread).
  const DeviceSession& session() const;

  // The runner of the form's updates.
  UpdateRunner& runner();

  // Ends the form; stops a running update first (see the class comment).
  void done(int result) override;

 private:
  void BuildControls();
  QWidget* MakeControl(const ControlRow& row, const QRect& pixels);
  void FitMakerLabel();
  void ApplyDefaults();
  QLineEdit* Field(FieldId field) const;
  void OnUpdateClicked();
  void OnRestartTick();
  int ShowTrackedDialog(QDialog& dialog);
  void StopUpdate();

  // The form's own operations; UI thread only. form_ops() wraps them.
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

  std::map<FieldId, QLineEdit*> fields_;
  QPushButton* close_button_ = nullptr;
  QLabel* maker_label_ = nullptr;
  QPushButton* update_button_ = nullptr;
  QTimer restart_timer_;
  int restart_counter_ = 0;
  std::string program_directory_;
  std::vector<QPointer<QDialog>> open_dialogs_;
  QtFormOps ops_;
  UpdateRunner runner_;  // after ops_: stopped and joined before it goes
};

}  // namespace hj5

#endif  // HJ5_APP_UPDATE_FORM_H_
