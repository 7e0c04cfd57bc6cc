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
#include <QRect>
#include <QValidator>
#include <atomic>
#include <climits>
#include <system_error>
#include <utility>

#include "app/form_art.h"
#include "app/lazy_ftp_client.h"
#include "app/qt_form_ops.h"
#include "app/update_launch.h"
#include "device/report.h"
#include "platform/asio_http_transport.h"
#include "platform/steady_clock.h"
#include "update/firmware_send.h"
#include "update/update_sequence.h"

namespace hj5 {

// Everything a worker touches. The worker holds it too, so that a worker a
// close had to leave behind never reaches freed memory: once the form is
// closing every operation of `ops` returns at once without touching a widget.
struct UpdateForm::Shared {
  Shared(std::shared_ptr<void> owned_platform, const FormPlatform& platform,
         UpdateForm& form)
      : owned(std::move(owned_platform)),
        platform(platform),
        ops(form, static_cast<FormOps&>(form)) {}

  std::shared_ptr<void> owned;  // the product's adapters
  FormPlatform platform;
  QtFormOps ops;
  DeviceSession session;
  ChosenFile chosen;
  std::atomic<bool> running{false};
  std::atomic<bool> worker_ended{true};
};

// The product's adapters. The FTP client is loaded on the first upload,
// from the installed module next to the program or from the build tree.
class UpdateForm::RealPlatform {
 public:
  RealPlatform()
      : ftp_({QFile::encodeName(QCoreApplication::applicationDirPath() +
                                QStringLiteral("/../" HJ5_FTP_MODULE_INSTALLED))
                  .toStdString(),
              HJ5_FTP_MODULE_BUILT}) {}

  FormPlatform platform() { return FormPlatform{transport_, ftp_, clock_}; }

 private:
  AsioHttpTransport transport_;
  LazyFtpClient ftp_;
  SteadyClock clock_;
};

namespace {

constexpr char kBoxCaption[] = "XML File Update";
constexpr char kFormTitle[] = "HJ-5 XML File Update";
constexpr char kFormFontFamily[] = "MS Sans Serif";
constexpr int kFormFontPoints = 9;
constexpr int kFormWidthUnits = 185;
constexpr int kFormHeightUnits = 125;
constexpr int kRestartPeriodMs = 1000;
constexpr int kNoId = -1;
// A private-network address; the operator types the device's own.
constexpr char kDefaultAddress[] = "192.168.0.100";

enum class Kind { kLabel, kEdit, kButton, kLogo };
enum Flag : unsigned {
  kHidden = 1u << 0,
  kReadOnly = 1u << 1,
  kNoBorder = 1u << 2,
  kDigitsOnly = 1u << 3,
  kDefaultButton = 1u << 4,
};

struct ControlRow {
  Kind kind;
  int id;
  const char* name;  // for controls without an id
  const char* text;
  int x, y, width, height;  // dialog units
  unsigned flags;
};

// The form's controls in tab order.
// clang-format off
constexpr ControlRow kControls[] = {
    {Kind::kLabel, kNoId, "labelAddress", "Address", 7, 11, 31, 8, 0},
    {Kind::kLabel, kNoId, "labelLoginId", "Login ID", 7, 25, 31, 8, 0},
    {Kind::kLabel, kNoId, "labelPassword", "Password", 7, 42, 31, 8, 0},
    {Kind::kLabel, kNoId, "labelPortNo", "Port No.", 7, 58, 31, 8, kHidden},
    {Kind::kLabel, kNoId, "labelHttp", "HTTP", 43, 57, 19, 8, kHidden},
    {Kind::kLabel, kNoId, "labelFtp", "FTP", 46, 61, 15, 8, kHidden},
    {Kind::kEdit, 1000, nullptr, "", 39, 7, 66, 12, 0},
    {Kind::kEdit, 1001, nullptr, "", 39, 23, 66, 12, 0},
    {Kind::kEdit, 1002, nullptr, "", 39, 39, 66, 12, 0},
    {Kind::kEdit, 1007, nullptr, "", 96, 59, 41, 12, kDigitsOnly | kHidden},
    {Kind::kEdit, 1006, nullptr, "", 64, 61, 41, 12,
     kDigitsOnly | kReadOnly | kHidden},
    {Kind::kEdit, 1004, nullptr, "", 7, 65, 170, 12, kReadOnly | kNoBorder},
    {Kind::kEdit, 1003, nullptr, "", 7, 78, 170, 12, kReadOnly},
    {Kind::kButton, 1, nullptr, "Close", 127, 103, 50, 15, kDefaultButton},
    {Kind::kLogo, kNoId, "logo", "", 6, 108, 23, 10, 0},
    {Kind::kLabel, kNoId, "labelMaker", "Quorvel Corporation", 34, 110, 57, 8,
     0},
    {Kind::kButton, kUpdateButtonId, nullptr, "XML-UPDATE", 119, 33, 59, 23,
     0},
};
// clang-format on

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

// Windows' MulDiv for non-negative values: a * b / c rounded to nearest.
int MulDiv(int a, int b, int c) { return (a * b + c / 2) / c; }

QWidget* MakeEdit(const ControlRow& row, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setMaxLength(INT_MAX);  // no limit of the field's own
  edit->setEchoMode(QLineEdit::Normal);
  if (row.flags & kDigitsOnly) {
    edit->setValidator(new DigitsValidator(edit));
  }
  if (row.flags & kReadOnly) {
    edit->setReadOnly(true);
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    edit->setPalette(palette);
  }
  if (row.flags & kNoBorder) edit->setFrame(false);
  return edit;
}

QWidget* MakeLabel(const ControlRow& row, QWidget* parent) {
  auto* label = new QLabel(QString::fromLatin1(row.text), parent);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

QWidget* MakeButton(const ControlRow& row, QWidget* parent) {
  auto* button = new QPushButton(QString::fromLatin1(row.text), parent);
  button->setDefault(row.flags & kDefaultButton);
  return button;
}

QWidget* MakeLogo(const QRect& pixels, QWidget* parent) {
  auto* logo = new QLabel(parent);
  logo->setPixmap(MakerLogo(pixels.size()));
  return logo;
}

}  // namespace

DialogBaseUnits BaseUnitsOf(const QFont& font) {
  static const QString kAlphabet =
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  QFontMetrics metrics(font);
  const int width = metrics.horizontalAdvance(kAlphabet);
  return DialogBaseUnits{(width + 26) / 52, metrics.height()};
}

QRect DialogUnitsToPixels(const QRect& units, DialogBaseUnits base) {
  return QRect(MulDiv(units.x(), base.x, 4), MulDiv(units.y(), base.y, 8),
               MulDiv(units.width(), base.x, 4),
               MulDiv(units.height(), base.y, 8));
}

UpdateForm::UpdateForm(QWidget* parent)
    : UpdateForm(std::make_shared<RealPlatform>(), parent) {}

UpdateForm::UpdateForm(std::shared_ptr<RealPlatform> real, QWidget* parent)
    : UpdateForm(real, real->platform(), parent) {}

UpdateForm::UpdateForm(const FormPlatform& platform, QWidget* parent)
    : UpdateForm(nullptr, platform, parent) {}

UpdateForm::UpdateForm(std::shared_ptr<void> owned,
                       const FormPlatform& platform, QWidget* parent)
    : QDialog(parent),
      shared_(std::make_shared<Shared>(std::move(owned), platform, *this)) {
  setWindowTitle(QString::fromLatin1(kFormTitle));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowIcon(ToolIcon());
  // Where the form's font is missing, a sans serif of Arial's metrics stands
  // in before the toolkit's general fallback.
  QFont::insertSubstitutions(QString::fromLatin1(kFormFontFamily),
                             {QStringLiteral("Microsoft Sans Serif"),
                              QStringLiteral("Liberation Sans"),
                              QStringLiteral("Arimo")});
  setFont(QFont(QString::fromLatin1(kFormFontFamily), kFormFontPoints));
  BuildControls();
  ApplyDefaults();
  restart_timer_.setInterval(kRestartPeriodMs);
  connect(&restart_timer_, &QTimer::timeout, this, &UpdateForm::OnRestartTick);
}

UpdateForm::~UpdateForm() {
  BeginStop();
  FinishWorker();
}

void UpdateForm::BuildControls() {
  const DialogBaseUnits base = BaseUnitsOf(font());
  setFixedSize(
      DialogUnitsToPixels(QRect(0, 0, kFormWidthUnits, kFormHeightUnits), base)
          .size());
  QWidget* previous = nullptr;
  for (const ControlRow& row : kControls) {
    const QRect pixels =
        DialogUnitsToPixels(QRect(row.x, row.y, row.width, row.height), base);
    QWidget* control = nullptr;
    switch (row.kind) {
      case Kind::kLabel:
        control = MakeLabel(row, this);
        break;
      case Kind::kEdit:
        control = MakeEdit(row, this);
        break;
      case Kind::kButton:
        control = MakeButton(row, this);
        break;
      case Kind::kLogo:
        control = MakeLogo(pixels, this);
        break;
    }
    control->setGeometry(pixels);
    control->setProperty("controlId", row.id);
    control->setObjectName(row.id == kNoId
                               ? QString::fromLatin1(row.name)
                               : QStringLiteral("control%1").arg(row.id));
    if (row.flags & kHidden) control->hide();
    if (row.kind == Kind::kEdit) {
      fields_[static_cast<FieldId>(row.id)] = static_cast<QLineEdit*>(control);
    }
    if (row.kind == Kind::kEdit || row.kind == Kind::kButton) {
      if (previous) setTabOrder(previous, control);
      previous = control;
    }
  }
  auto* close = findChild<QPushButton*>(QStringLiteral("control1"));
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  update_button_ =
      findChild<QPushButton*>(QStringLiteral("control%1").arg(kUpdateButtonId));
  connect(update_button_, &QPushButton::clicked, this,
          &UpdateForm::OnUpdateClicked);
}

void UpdateForm::ApplyDefaults() {
  Field(FieldId::kAddress)->setText(QString::fromLatin1(kDefaultAddress));
  Field(FieldId::kFtpPort)->setText(QStringLiteral("21"));
  Field(FieldId::kHttpPort)->setText(QStringLiteral("80"));
  shared_->session.device_code = DeviceSession::kDefaultDeviceCode;
  Field(FieldId::kNotice)->clear();
  Field(FieldId::kStatus)->clear();
  program_directory_ =
      QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString();
  Field(FieldId::kAddress)->setFocus();
}

QLineEdit* UpdateForm::Field(FieldId field) const { return fields_.at(field); }

FormOps& UpdateForm::form_ops() { return shared_->ops; }

const DeviceSession& UpdateForm::session() const { return shared_->session; }

void UpdateForm::ReportError(const std::string& text) {
  hj5::ReportError(shared_->ops, text);
}

void UpdateForm::OnUpdateClicked() {
  if (stopping_) return;
  if (shared_->worker_ended && worker_.joinable()) worker_.join();
  Shared* shared = shared_.get();
  LaunchContext context{
      shared->ops,
      shared->session,
      shared->chosen,
      shared->running,
      program_directory_,
      [shared] {
        UpdateSequence(UpdateContext{shared->ops, shared->platform.transport,
                                     shared->platform.clock, shared->session,
                                     shared->platform.limit_seconds});
      }};
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
  BeginStop();
  QDialog::done(result);
  FinishWorker();
}

// Tells a running update to stop and releases whatever it waits for.
void UpdateForm::BeginStop() {
  if (stopping_) return;
  stopping_ = true;
  shared_->ops.BeginClosing();
  shared_->platform.clock.Interrupt();
  shared_->platform.transport.Cancel();
  shared_->platform.ftp.Cancel();
  restart_timer_.stop();
  for (const QPointer<QDialog>& dialog : open_dialogs_) {
    if (dialog) dialog->done(QDialog::Rejected);
  }
}

// Waits for the worker, serving events meanwhile, and joins it. A worker
// still running after kCloseWaitMs (an exchange that ignores the cancel,
// such as a host name lookup) is detached: it holds `shared_`, and every
// operation it calls returns at once, so it touches no destroyed object.
void UpdateForm::FinishWorker() {
  if (!worker_.joinable()) return;
  if (!shared_->worker_ended) WaitForWorkerEnd();
  if (shared_->worker_ended) {
    worker_.join();
  } else {
    worker_.detach();
  }
}

void UpdateForm::WaitForWorkerEnd() {
  QEventLoop loop;
  QTimer poll;
  const QDeadlineTimer deadline(kCloseWaitMs);
  connect(&poll, &QTimer::timeout, &loop, [&] {
    if (shared_->worker_ended || deadline.hasExpired()) loop.quit();
  });
  poll.start(10);
  loop.exec();
}

// --- The form's own operations (UI thread) ---------------------------------

void UpdateForm::ShowBox(BoxKind kind, const std::string& text) {
  if (stopping_) return;
  QMessageBox box(kind == BoxKind::kWarning ? QMessageBox::Warning
                                            : QMessageBox::Information,
                  QString::fromLatin1(kBoxCaption),
                  QString::fromLocal8Bit(text), QMessageBox::Ok, this);
  ShowTrackedDialog(box);
}

void UpdateForm::SetFieldText(FieldId field, const std::string& text) {
  Field(field)->setText(QString::fromLocal8Bit(text));
}

std::string UpdateForm::FieldText(FieldId field) {
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

int UpdateForm::SendFirmwareMessage() {
  return FirmwareSend(shared_->ops, shared_->platform.ftp, shared_->session,
                      shared_->chosen);
}

std::optional<ChosenFile> UpdateForm::ChooseFile(
    const FileChooserRequest& request) {
  if (stopping_) return std::nullopt;
  QFileDialog dialog(this, QStringLiteral("Open"),
                     QFile::decodeName(request.initial_directory.c_str()));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilter(QString::fromLocal8Bit(request.filter));
  dialog.setDefaultSuffix(QString::fromLocal8Bit(request.default_suffix));
  dialog.selectFile(QString::fromLocal8Bit(request.initial_name));
  if (ShowTrackedDialog(dialog) != QDialog::Accepted || stopping_) {
    return std::nullopt;
  }
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return std::nullopt;
  return ChosenFile{
      QFile::encodeName(files.front()).toStdString(),
      QFile::encodeName(QFileInfo(files.front()).fileName()).toStdString()};
}

bool UpdateForm::StartWorker(std::function<void()> procedure) {
  if (stopping_ || !shared_->worker_ended) return false;  // one at a time
  if (worker_.joinable()) worker_.join();  // it has done its last act
  shared_->worker_ended = false;
  try {
    worker_ = std::thread([shared = shared_, procedure = std::move(procedure)] {
      procedure();
      shared->worker_ended = true;
    });
  } catch (const std::system_error&) {
    shared_->worker_ended = true;
    return false;
  }
  return true;
}

}  // namespace hj5
