#include "app/modal_answerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QWidget>

#include "gtest/gtest.h"

namespace hj5::test {
namespace {

constexpr char kSeen[] = "hj5TestSeen";

std::string TextOf(QWidget* form, const char* name) {
  auto* edit = form ? form->findChild<QLineEdit*>(name) : nullptr;
  return edit ? edit->text().toStdString() : std::string();
}

}  // namespace

ModalAnswerer::ModalAnswerer(QWidget* form) : form_(form) {
  connect(&poll_, &QTimer::timeout, this, &ModalAnswerer::Poll);
  poll_.start(5);
}

void ModalAnswerer::AnswerChooser(std::optional<QString> path) {
  chooser_path_ = std::move(path);
}

std::vector<std::string> ModalAnswerer::box_texts() const {
  std::vector<std::string> texts;
  for (const SeenBox& box : boxes_) texts.push_back(box.text);
  return texts;
}

void ModalAnswerer::Poll() {
  QWidget* modal = QApplication::activeModalWidget();
  if (!modal || !modal->isVisible() || modal->property(kSeen).toBool()) return;
  modal->setProperty(kSeen, true);
  // Answered from a timer of its own: an answer may open a nested dialog,
  // and Qt does not run this poll timer again while its handler runs.
  QPointer<QWidget> target(modal);
  QTimer::singleShot(0, this, [this, target] {
    if (!target) return;
    if (auto* box = qobject_cast<QMessageBox*>(target.data())) {
      Answer(*box);
    } else if (auto* chooser = qobject_cast<QFileDialog*>(target.data())) {
      Answer(*chooser);
    }
  });
}

void ModalAnswerer::Answer(QMessageBox& box) {
  SeenBox seen;
  seen.icon = box.icon();
  seen.caption = box.windowTitle().toStdString();
  seen.text = box.text().toStdString();
  seen.buttons = static_cast<int>(box.buttons().size());
  seen.status = TextOf(form_, "control1003");
  seen.notice = TextOf(form_, "control1004");
  auto* update =
      form_ ? form_->findChild<QPushButton*>("control1009") : nullptr;
  seen.update_enabled = update && update->isEnabled();
  boxes_.push_back(seen);
  if (on_box && !on_box(box, seen)) return;
  if (QAbstractButton* ok = box.button(QMessageBox::Ok)) ok->click();
}

void ModalAnswerer::Answer(QFileDialog& chooser) {
  ++choosers_seen_;
  if (on_chooser) on_chooser(chooser);
  if (!chooser_path_) {
    chooser.reject();
    return;
  }
  // As the operator does: the full path typed into the name field, Enter.
  auto* name = chooser.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  if (!name) {
    ADD_FAILURE() << "the chooser has no file name field";
    chooser.reject();
    return;
  }
  name->setFocus();
  name->selectAll();
  QTest::keyClicks(name, *chooser_path_);
  QTest::keyClick(name, Qt::Key_Return);
  if (chooser.isVisible()) {
    ADD_FAILURE() << "the chooser refused " << chooser_path_->toStdString();
    chooser.reject();
  }
}

}  // namespace hj5::test
