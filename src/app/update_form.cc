#include "app/update_form.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QValidator>
#include <algorithm>
#include <climits>

#include "app/form_art.h"
#include "app/form_defaults.h"

namespace hj5 {
namespace {

// Accepts decimal digits only, as a digits-only edit control does.
class DigitsValidator final : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int&) const override {
    for (QChar c : input) {
      if (c < u'0' || c > u'9') return Invalid;
    }
    return Acceptable;
  }
};

QLineEdit* MakeEdit(const ControlRow& row, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setMaxLength(INT_MAX);  // no limit of the field's own
  edit->setEchoMode(QLineEdit::Normal);
  if (row.flags & kDigitsOnly) edit->setValidator(new DigitsValidator(edit));
  if (row.flags & kReadOnly) {
    edit->setReadOnly(true);
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    edit->setPalette(palette);
  }
  if (row.flags & kNoBorder) edit->setFrame(false);
  return edit;
}

QLabel* MakeLabel(const ControlRow& row, QWidget* parent) {
  auto* label = new QLabel(QString::fromLatin1(row.text), parent);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

QPushButton* MakeButton(const ControlRow& row, QWidget* parent) {
  auto* button = new QPushButton(QString::fromLatin1(row.text), parent);
  button->setDefault(row.flags & kDefaultButton);
  return button;
}

QLabel* MakeLogo(const QRect& pixels, QWidget* parent) {
  auto* logo = new QLabel(parent);
  logo->setPixmap(MakerLogo(pixels.size()));
  return logo;
}

}  // namespace

UpdateForm::UpdateForm(const Platform& platform, QWidget* parent)
    : QDialog(parent),
      ops_(*this, static_cast<FormOps&>(*this)),
      runner_(ops_, platform) {
  setWindowTitle(QString::fromLatin1(kFormTitle));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowIcon(ToolIcon());
  setFont(FormFont());
  BuildControls();
  ApplyDefaults();
  restart_timer_.setInterval(kRestartPeriodMs);
  connect(&restart_timer_, &QTimer::timeout, this, &UpdateForm::OnRestartTick);
}

UpdateForm::~UpdateForm() { StopUpdate(); }

void UpdateForm::BuildControls() {
  const DialogBaseUnits base = BaseUnitsOf(font());
  setFixedSize(
      DialogUnitsToPixels(QRect(0, 0, kFormWidthUnits, kFormHeightUnits), base)
          .size());
  QWidget* previous = nullptr;
  for (const ControlRow& row : FormControls()) {
    const QRect pixels =
        DialogUnitsToPixels(QRect(row.x, row.y, row.width, row.height), base);
    QWidget* control = MakeControl(row, pixels);
    control->setGeometry(pixels);
    control->setProperty("controlId", row.id);
    control->setObjectName(row.id == kNoControlId
                               ? QString::fromLatin1(row.name)
                               : QStringLiteral("control%1").arg(row.id));
    if (row.flags & kHidden) control->hide();
    if (row.kind == ControlKind::kEdit || row.kind == ControlKind::kButton) {
      if (previous) setTabOrder(previous, control);
      previous = control;
    }
  }
  FitMakerLabel();
  connect(close_button_, &QPushButton::clicked, this, &QDialog::accept);
  connect(update_button_, &QPushButton::clicked, this,
          &UpdateForm::OnUpdateClicked);
}

// Creates the control of `row` and keeps the ones the form works with.
QWidget* UpdateForm::MakeControl(const ControlRow& row, const QRect& pixels) {
  switch (row.kind) {
    case ControlKind::kEdit: {
      QLineEdit* edit = MakeEdit(row, this);
      fields_[static_cast<FieldId>(row.id)] = edit;
      return edit;
    }
    case ControlKind::kButton: {
      QPushButton* button = MakeButton(row, this);
      if (row.id == static_cast<int>(ControlId::kClose)) close_button_ = button;
      if (row.id == static_cast<int>(ControlId::kUpdate))
        update_button_ = button;
      return button;
    }
    case ControlKind::kLogo:
      return MakeLogo(pixels, this);
    case ControlKind::kLabel:
      break;
  }
  QLabel* label = MakeLabel(row, this);
  if (&row == &MakerLabel()) maker_label_ = label;
  return label;
}

// The maker's name is wider than its place in some fonts: the label grows
// to the right, up to the Close button, and where even that is too narrow
// its font shrinks, so the whole name shows at its place.
void UpdateForm::FitMakerLabel() {
  QLabel* label = maker_label_;
  const int right_limit = close_button_->geometry().left() - 2;
  QRect place = label->geometry();
  place.setRight(std::max(place.right(), right_limit));
  QFont font = label->font();
  auto needed = [&] {
    return QFontMetrics(font).horizontalAdvance(label->text()) +
           2 * label->margin() + 1;
  };
  while (needed() > place.width() && font.pointSizeF() > 4) {
    font.setPointSizeF(font.pointSizeF() - 0.5);
  }
  label->setFont(font);
  place.setWidth(
      std::min(place.width(), std::max(label->geometry().width(), needed())));
  label->setGeometry(place);
}

void UpdateForm::ApplyDefaults() {
  Field(FieldId::kAddress)->setText(QString::fromLatin1(kDefaultAddress));
  Field(FieldId::kFtpPort)->setText(QString::fromLatin1(kDefaultFtpPort));
  Field(FieldId::kHttpPort)->setText(QString::fromLatin1(kDefaultHttpPort));
  Field(FieldId::kNotice)->clear();
  Field(FieldId::kStatus)->clear();
  program_directory_ =
      QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString();
  Field(FieldId::kAddress)->setFocus();
}

QLineEdit* UpdateForm::Field(FieldId field) const { return fields_.at(field); }

FormOps& UpdateForm::form_ops() { return ops_; }

const DeviceSession& UpdateForm::session() const { return runner_.session(); }

UpdateRunner& UpdateForm::runner() { return runner_; }

void UpdateForm::OnUpdateClicked() {
  LaunchContext context{ops_, *this, runner_, program_directory_};
  LaunchUpdate(context);
}

void UpdateForm::OnRestartTick() {
  ++restart_counter_;
  Field(FieldId::kStatus)
      ->setText(QString::asprintf("Restarting(%d)", restart_counter_));
}

int UpdateForm::ShowTrackedDialog(QDialog& dialog) {
  open_dialogs_.emplace_back(&dialog);
  const int result = dialog.exec();
  std::erase_if(open_dialogs_, [&](const QPointer<QDialog>& open) {
    return open.isNull() || open.data() == &dialog;
  });
  return result;
}

// --- Closing -------------------------------------------------------------

void UpdateForm::done(int result) {
  StopUpdate();
  QDialog::done(result);
}

// Stops the update for good, serving events while the worker ends.
void UpdateForm::StopUpdate() {
  runner_.Stop(
      [](const std::function<bool()>& ended, std::chrono::milliseconds limit) {
        const QDeadlineTimer deadline(static_cast<qint64>(limit.count()));
        while (!ended() && !deadline.hasExpired()) {
          QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
      });
}

// --- The form's own operations (UI thread) ---------------------------------
// QtFormOps calls them only while the form is not interrupted.

void UpdateForm::ShowBox(BoxKind kind, const std::string& text,
                         const std::string&) {
  QMessageBox box(kind == BoxKind::kWarning ? QMessageBox::Warning
                                            : QMessageBox::Information,
                  QString::fromLatin1(kBoxCaption),
                  QString::fromLocal8Bit(text), QMessageBox::Ok, this);
  ShowTrackedDialog(box);
}

void UpdateForm::SetFieldText(FieldId field, const std::string& text) {
  Field(field)->setText(QString::fromLocal8Bit(text));
}

std::optional<std::string> UpdateForm::FieldText(FieldId field) {
  return Field(field)->text().toLocal8Bit().toStdString();
}

void UpdateForm::SetUpdateEnabled(bool enabled) {
  update_button_->setEnabled(enabled);
}

void UpdateForm::StartRestartTimer() {
  restart_counter_ = 0;
  restart_timer_.start();
}

void UpdateForm::StopRestartTimer() { restart_timer_.stop(); }

Status UpdateForm::SendFirmwareMessage() { return runner_.SendFirmware(); }

std::optional<ChosenFile> UpdateForm::ChooseFile(
    const FileChooserRequest& request) {
  QFileDialog dialog(this, QStringLiteral("Open"),
                     QFile::decodeName(request.initial_directory.c_str()));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilter(QString::fromLocal8Bit(request.filter));
  dialog.setDefaultSuffix(QString::fromLocal8Bit(request.default_suffix));
  dialog.selectFile(QString::fromLocal8Bit(request.initial_name));
  if (ShowTrackedDialog(dialog) != QDialog::Accepted) {
    return std::nullopt;
  }
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return std::nullopt;
  return ChosenFile{
      QFile::encodeName(files.front()).toStdString(),
      QFile::encodeName(QFileInfo(files.front()).fileName()).toStdString()};
}

// The update is being stopped: no box or chooser stays open, no tick comes.
void UpdateForm::Interrupt() {
  restart_timer_.stop();
  for (const QPointer<QDialog>& dialog : open_dialogs_) {
    if (dialog) dialog->done(QDialog::Rejected);
  }
}

}  // namespace hj5
