#ifndef HJ5_TESTS_APP_MODAL_ANSWERER_H_
#define HJ5_TESTS_APP_MODAL_ANSWERER_H_

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QFileDialog;
class QWidget;

namespace hj5::test {

// A message box as the operator saw it, with the form's state at that moment.
struct SeenBox {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  std::string caption;
  std::string text;
  int buttons = 0;              // number of buttons
  std::string status;           // control 1003 when the box appeared
  std::string notice;           // control 1004 when the box appeared
  bool update_enabled = false;  // control 1009 when the box appeared
};

// Plays the operator for the modal dialogs of a form: watches for the
// active modal widget every few milliseconds, records every message box and
// presses its OK button, and answers the file chooser.
class ModalAnswerer : public QObject {
 public:
  // `form` is the dialog whose lines are recorded with each box.
  explicit ModalAnswerer(QWidget* form);

  // The chooser is answered with `path` (nullopt: cancelled). Without a call
  // the chooser is cancelled.
  void AnswerChooser(std::optional<QString> path);

  // Called when a box appears, before it is acknowledged. Return false to
  // leave the box open (the callback then owns its fate).
  std::function<bool(QMessageBox&, const SeenBox&)> on_box;

  // Called when the chooser appears, before it is answered.
  std::function<void(QFileDialog&)> on_chooser;

  const std::vector<SeenBox>& boxes() const { return boxes_; }
  std::vector<std::string> box_texts() const;
  int choosers_seen() const { return choosers_seen_; }

 private:
  void Poll();
  void Answer(QMessageBox& box);
  void Answer(QFileDialog& chooser);

  QPointer<QWidget> form_;
  QTimer poll_;
  std::optional<QString> chooser_path_;
  std::vector<SeenBox> boxes_;
  int choosers_seen_ = 0;
};

}  // namespace hj5::test

#endif  // HJ5_TESTS_APP_MODAL_ANSWERER_H_
