// The main form under the offscreen platform: its defaults, its layout in
// dialog units, its lines, timer 2004 and the ways it ends.

#include "app/update_form.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QValidator>
#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "app/form_layout.h"
#include "app/modal_answerer.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "support/blocking_fakes.h"
#include "update/update_run.h"

namespace hj5 {
namespace {

using test::BlockingClock;
using test::BlockingTransport;
using test::IdleFtpClient;
using test::ModalAnswerer;
using testing::ElementsAre;

class UpdateFormTest : public testing::Test {
 protected:
  void SetUp() override {
    form_ = std::make_unique<UpdateForm>(Platform{transport_, ftp_, clock_});
  }

  QLineEdit* Field(int id) const {
    return form_->findChild<QLineEdit*>(QStringLiteral("control%1").arg(id));
  }
  QPushButton* Button(int id) const {
    return form_->findChild<QPushButton*>(QStringLiteral("control%1").arg(id));
  }
  QWidget* Named(const char* name) const {
    return form_->findChild<QWidget*>(QString::fromLatin1(name));
  }
  std::string Text(int id) const { return Field(id)->text().toStdString(); }

  BlockingClock clock_;
  BlockingTransport transport_{BlockingTransport::Mode::kFail};
  IdleFtpClient ftp_;
  std::unique_ptr<UpdateForm> form_;
};

// --- Defaults and controls ------------------------------------------------

TEST_F(UpdateFormTest, StartsWithItsDefaults) {
  EXPECT_EQ(form_->windowTitle(), "HJ-5 XML File Update");
  EXPECT_EQ(Text(1006), "21");
  EXPECT_EQ(Text(1007), "80");
  EXPECT_EQ(Text(1001), "");
  EXPECT_EQ(Text(1002), "");
  EXPECT_EQ(Text(1003), "");
  EXPECT_EQ(Text(1004), "");
  EXPECT_EQ(form_->session().device_code, "HJ5M");
  // A fixed private-network IPv4 address.
  const QRegularExpression private_ipv4(QStringLiteral(
      R"(^(10\.\d+|172\.(1[6-9]|2\d|3[01])|192\.168)\.\d+\.\d+$)"));
  EXPECT_TRUE(private_ipv4.match(Field(1000)->text()).hasMatch()) << Text(1000);
  EXPECT_TRUE(Button(1009)->isEnabled());
}

TEST_F(UpdateFormTest, EveryControlCarriesItsId) {
  for (int id : {1000, 1001, 1002, 1003, 1004, 1006, 1007}) {
    ASSERT_NE(Field(id), nullptr) << id;
    EXPECT_EQ(Field(id)->property("controlId").toInt(), id);
  }
  EXPECT_EQ(Button(1)->text(), "Close");
  EXPECT_EQ(Button(1009)->text(), "XML-UPDATE");
  EXPECT_EQ(Button(1009)->property("controlId").toInt(), 1009);
  auto* maker = qobject_cast<QLabel*>(Named("labelMaker"));
  ASSERT_NE(maker, nullptr);
  EXPECT_EQ(maker->text(), "Quorvel Corporation");
  auto* logo = qobject_cast<QLabel*>(Named("logo"));
  ASSERT_NE(logo, nullptr);
  EXPECT_FALSE(logo->pixmap().isNull());
  EXPECT_FALSE(form_->windowIcon().isNull());
}

TEST_F(UpdateFormTest, PortFieldsAndTheirLabelsAreNeverShown) {
  form_->show();
  for (const char* name : {"labelPortNo", "labelHttp", "labelFtp"}) {
    EXPECT_FALSE(Named(name)->isVisible()) << name;
  }
  EXPECT_FALSE(Field(1006)->isVisible());
  EXPECT_FALSE(Field(1007)->isVisible());
  for (int id : {1000, 1001, 1002, 1003, 1004}) {
    EXPECT_TRUE(Field(id)->isVisible()) << id;
  }
  for (const char* name : {"labelAddress", "labelLoginId", "labelPassword",
                           "logo", "labelMaker"}) {
    EXPECT_TRUE(Named(name)->isVisible()) << name;
  }
}

TEST_F(UpdateFormTest, FieldsHaveTheirFlags) {
  EXPECT_TRUE(Field(1006)->isReadOnly());
  EXPECT_TRUE(Field(1004)->isReadOnly());
  EXPECT_TRUE(Field(1003)->isReadOnly());
  for (int id : {1000, 1001, 1002, 1007}) {
    EXPECT_FALSE(Field(id)->isReadOnly()) << id;
  }
  EXPECT_FALSE(Field(1004)->hasFrame());
  EXPECT_TRUE(Field(1003)->hasFrame());
  EXPECT_EQ(Field(1002)->echoMode(), QLineEdit::Normal);  // shown in clear
  for (int id : {1000, 1001, 1002, 1003, 1004, 1006, 1007}) {
    EXPECT_EQ(Field(id)->maxLength(), INT_MAX) << id;
  }
  for (int id : {1006, 1007}) {
    const QValidator* validator = Field(id)->validator();
    ASSERT_NE(validator, nullptr) << id;
    QString digits = QStringLiteral("8080"), letters = QStringLiteral("80a");
    int pos = 0;
    EXPECT_EQ(validator->validate(digits, pos), QValidator::Acceptable);
    EXPECT_EQ(validator->validate(letters, pos), QValidator::Invalid);
  }
}

TEST_F(UpdateFormTest, LongTextIsKeptWhole) {
  const std::string long_text(100000, 'a');
  form_->form_ops().SetFieldText(FieldId::kAddress, long_text);
  EXPECT_EQ(Text(1000), long_text);
}

TEST_F(UpdateFormTest, HasTitleBarCloseButNoMinimiseOrMaximise) {
  const Qt::WindowFlags flags = form_->windowFlags();
  EXPECT_TRUE(flags & Qt::WindowTitleHint);
  EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowContextHelpButtonHint);
  EXPECT_TRUE(Button(1)->isDefault());
  EXPECT_FALSE(Button(1009)->isDefault());
}

// --- Geometry from dialog units -----------------------------------------

struct UnitRect {
  std::string name;
  int x, y, width, height;
};

// Windows' rule, written out independently: base x is the average width of
// the 52 letters rounded, base y the font height; x / 4 and y / 8 per unit.
QRect ExpectedPixels(const QFont& font, const UnitRect& r) {
  const QFontMetrics metrics(font);
  const int base_x =
      qRound(metrics.horizontalAdvance(QStringLiteral(
                 "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
             52.0);
  const int base_y = metrics.height();
  auto scale = [](int units, int base, int per) {
    return qRound(units * base / static_cast<double>(per));
  };
  return QRect(scale(r.x, base_x, 4), scale(r.y, base_y, 8),
               scale(r.width, base_x, 4), scale(r.height, base_y, 8));
}

TEST_F(UpdateFormTest, UsesTheFormFontAtNinePoints) {
  EXPECT_EQ(form_->font().family(), "MS Sans Serif");
  EXPECT_EQ(form_->font().pointSize(), 9);
  EXPECT_EQ(Field(1000)->font(), form_->font());
}

// Each control where the form's table puts it (the maker's label aside: it
// grows to fit its name, below).
TEST_F(UpdateFormTest, PlacesEveryControlFromDialogUnits) {
  for (const ControlRow& row : FormControls()) {
    if (&row == &MakerLabel()) continue;
    const std::string name =
        row.id == kNoControlId ? row.name : "control" + std::to_string(row.id);
    QWidget* control = Named(name.c_str());
    ASSERT_NE(control, nullptr) << name;
    EXPECT_EQ(control->geometry(),
              ExpectedPixels(form_->font(),
                             {name, row.x, row.y, row.width, row.height}))
        << name;
  }
  const QRect client = ExpectedPixels(
      form_->font(), {"form", 0, 0, kFormWidthUnits, kFormHeightUnits});
  form_->show();
  EXPECT_EQ(form_->size(), client.size());
  EXPECT_EQ(form_->minimumSize(), form_->maximumSize());  // not resizable
}

// The maker's name is wider than its 57 units in the form's font: the label
// keeps its place and grows towards the Close button until the name fits.
TEST_F(UpdateFormTest, TheMakerLabelShowsItsWholeName) {
  auto* maker = qobject_cast<QLabel*>(Named("labelMaker"));
  ASSERT_NE(maker, nullptr);
  const QRect place = ExpectedPixels(form_->font(), {"", 34, 110, 57, 8});
  const QRect shown = maker->geometry();
  EXPECT_EQ(shown.topLeft(), place.topLeft());
  EXPECT_EQ(shown.height(), place.height());
  EXPECT_GE(shown.width(), place.width());
  EXPECT_LE(QFontMetrics(maker->font()).horizontalAdvance(maker->text()),
            maker->contentsRect().width());
  EXPECT_LT(shown.right(), Button(1)->geometry().left());
}

TEST(DialogUnitsTest, RoundsToTheNearestPixel) {
  const DialogBaseUnits base{7, 13};
  // 3 * 7 / 4 = 5.25, 5 * 13 / 8 = 8.125, 2 * 7 / 4 = 3.5, 4 * 13 / 8 = 6.5.
  EXPECT_EQ(DialogUnitsToPixels(QRect(3, 5, 2, 4), base), QRect(5, 8, 4, 7));
  EXPECT_EQ(DialogUnitsToPixels(QRect(0, 0, 185, 125), base),
            QRect(0, 0, 324, 203));
}

// --- Focus, tab order and the ways the form ends ---------------------------

TEST_F(UpdateFormTest, FocusStartsInAddressAndTabsInTableOrder) {
  form_->show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  std::vector<std::string> order;
  for (int i = 0; i < 8; ++i) {
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    order.push_back(focus->objectName().toStdString());
    QTest::keyClick(focus, Qt::Key_Tab);
  }
  EXPECT_THAT(order, ElementsAre("control1000", "control1001", "control1002",
                                 "control1004", "control1003", "control1",
                                 "control1009", "control1000"));
}

TEST_F(UpdateFormTest, EndsByCloseEnterEscapeAndTheCloseBox) {
  struct Way {
    const char* name;
    std::function<void(UpdateForm&)> act;
  };
  const Way ways[] = {
      {"Close",
       [](UpdateForm& f) {
         QTest::mouseClick(f.findChild<QPushButton*>("control1"),
                           Qt::LeftButton);
       }},
      {"Enter in Address",
       [](UpdateForm& f) {
         QTest::keyClick(f.findChild<QLineEdit*>("control1000"),
                         Qt::Key_Return);
       }},
      {"Escape",
       [](UpdateForm& f) {
         QTest::keyClick(f.findChild<QLineEdit*>("control1001"),
                         Qt::Key_Escape);
       }},
      {"close box", [](UpdateForm& f) { f.close(); }},
  };
  for (const Way& way : ways) {
    UpdateForm form(Platform{transport_, ftp_, clock_});
    QSignalSpy finished(&form, &QDialog::finished);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form)) << way.name;
    way.act(form);
    EXPECT_EQ(finished.count(), 1) << way.name;
    EXPECT_FALSE(form.isVisible()) << way.name;
  }
}

// --- Lines, boxes and timer 2004 -----------------------------------------

TEST_F(UpdateFormTest, ReportErrorShowsTheBoxBeforeTouchingTheForm) {
  ModalAnswerer answerer(form_.get());
  Button(1009)->setEnabled(false);
  Field(1003)->setText(QStringLiteral("Processing(2)"));
  Field(1004)->setText(QStringLiteral("Please wait for a while."));

  const DeviceSession session;
  const ChosenFile chosen;
  const Platform platform{transport_, ftp_, clock_};
  UpdateRun run({form_->form_ops(), platform, session, chosen});
  run.ReportError(
      Status::Failure(-5, "Communication Error(Time Out)", "a cause"));

  ASSERT_EQ(answerer.boxes().size(), 1u);
  const test::SeenBox& box = answerer.boxes()[0];
  EXPECT_EQ(box.icon, QMessageBox::Warning);
  EXPECT_EQ(box.caption, "XML File Update");
  EXPECT_EQ(box.text, "Communication Error(Time Out)");
  EXPECT_EQ(box.buttons, 1);
  // While the box is up nothing else has changed yet.
  EXPECT_FALSE(box.update_enabled);
  EXPECT_EQ(box.status, "Processing(2)");
  EXPECT_EQ(box.notice, "Please wait for a while.");
  // Then: button, status, notice.
  EXPECT_TRUE(Button(1009)->isEnabled());
  EXPECT_EQ(Text(1003), "Communication Error(Time Out)");
  EXPECT_EQ(Text(1004), "");
}

TEST_F(UpdateFormTest, BoxesCarryTheirIconAndCaption) {
  ModalAnswerer answerer(form_.get());
  form_->form_ops().ShowBox(BoxKind::kInformation, "Update completed.", "");
  form_->form_ops().ShowBox(BoxKind::kWarning, "Update Failure.", "a cause");
  ASSERT_EQ(answerer.boxes().size(), 2u);
  EXPECT_EQ(answerer.boxes()[0].icon, QMessageBox::Information);
  EXPECT_EQ(answerer.boxes()[1].icon, QMessageBox::Warning);
  for (const test::SeenBox& box : answerer.boxes()) {
    EXPECT_EQ(box.caption, "XML File Update");
    EXPECT_EQ(box.buttons, 1);
  }
}

TEST_F(UpdateFormTest, RestartTimerCountsFromOneAfterEachStart) {
  FormOps& ops = form_->form_ops();
  auto status = [&] { return Text(1003); };
  ops.SetFieldText(FieldId::kStatus, "Restarting ....");
  ops.StartRestartTimer();
  EXPECT_EQ(status(), "Restarting ....");  // the first tick is a second away
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return status() != "Restarting ...."; }, 5000));
  EXPECT_EQ(status(), "Restarting(1)");
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return status() == "Restarting(2)"; }, 5000));
  ops.StopRestartTimer();
  QTest::qWait(1300);
  EXPECT_EQ(status(), "Restarting(2)");  // stopped: the line keeps its text

  ops.StartRestartTimer();  // the counter starts again at 0
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return status() != "Restarting(2)"; }, 5000));
  EXPECT_EQ(status(), "Restarting(1)");
  ops.StopRestartTimer();
}

}  // namespace
}  // namespace hj5
