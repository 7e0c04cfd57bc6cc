// The click of "XML-UPDATE" through the real form, a click while an update
// runs, and closing the form while the worker waits for the device, for the
// clock or for the operator.

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <string>

#include "app/modal_answerer.h"
#include "app/update_form.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "platform/asio_http_transport.h"
#include "support/blocking_fakes.h"

namespace hj5 {
namespace {

using test::BlockingClock;
using test::BlockingTransport;
using test::IdleFtpClient;
using test::ModalAnswerer;
using testing::Each;
using testing::ElementsAre;

// Well below UpdateRunner::kStopWait: a close that took longer would have
// waited for the worker in a plain join.
constexpr qint64 kPromptCloseMs = 1500;

class FormClickTest : public testing::Test {
 protected:
  explicit FormClickTest(BlockingTransport::Mode mode) : transport_(mode) {}

  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    xml_path_ = dir_.filePath(QStringLiteral("update.xml"));
    QFile file(xml_path_);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<?xml version=\"1.0\"?>\n<config/>\n");
    file.close();
    form_ = std::make_unique<UpdateForm>(Platform{transport_, ftp_, clock_});
    answerer_ = std::make_unique<ModalAnswerer>(form_.get());
    answerer_->AnswerChooser(xml_path_);
    // Loopback only, set before anything is pressed.
    SetField(1000, "127.0.0.1");
    SetField(1001, "admin");
    SetField(1002, "hj5pass");
    form_->show();
  }

  void TearDown() override {
    answerer_.reset();
    form_.reset();
  }

  void SetField(int id, const char* text) {
    form_->findChild<QLineEdit*>(QStringLiteral("control%1").arg(id))
        ->setText(QString::fromLatin1(text));
  }
  std::string Text(int id) const {
    return form_->findChild<QLineEdit*>(QStringLiteral("control%1").arg(id))
        ->text()
        .toStdString();
  }
  QPushButton* UpdateButton() const {
    return form_->findChild<QPushButton*>(QStringLiteral("control1009"));
  }
  void Click() { QTest::mouseClick(UpdateButton(), Qt::LeftButton); }

  // Closes the form by its close box; returns how long the close took.
  qint64 CloseAndTime() {
    QElapsedTimer timer;
    timer.start();
    form_->close();
    return timer.elapsed();
  }

  QTemporaryDir dir_;
  QString xml_path_;
  BlockingClock clock_;
  BlockingTransport transport_;
  IdleFtpClient ftp_;
  std::unique_ptr<UpdateForm> form_;
  std::unique_ptr<ModalAnswerer> answerer_;
};

class HoldingDeviceTest : public FormClickTest {
 protected:
  HoldingDeviceTest() : FormClickTest(BlockingTransport::Mode::kHold) {}
};

class FailingDeviceTest : public FormClickTest {
 protected:
  FailingDeviceTest() : FormClickTest(BlockingTransport::Mode::kFail) {}
};

class AnsweringDeviceTest : public FormClickTest {
 protected:
  AnsweringDeviceTest() : FormClickTest(BlockingTransport::Mode::kAnswer) {}
};

TEST_F(HoldingDeviceTest, ClickOpensTheChooserInTheProgramDirectory) {
  QString directory;
  QStringList filters;
  answerer_->on_chooser = [&](QFileDialog& chooser) {
    directory = chooser.directory().absolutePath();
    filters = chooser.nameFilters();
    EXPECT_EQ(Text(1003), "");  // both lines emptied before the chooser
    EXPECT_EQ(Text(1004), "");
  };
  answerer_->AnswerChooser(std::nullopt);
  SetField(1003, "Update completed.");
  SetField(1004, "old notice");
  Click();
  EXPECT_EQ(answerer_->choosers_seen(), 1);
  EXPECT_EQ(directory, QCoreApplication::applicationDirPath());
  EXPECT_THAT(filters, ElementsAre("XML File(*.xml)"));
  EXPECT_EQ(transport_.exchanges, 0);  // cancelled: nothing started
  EXPECT_TRUE(UpdateButton()->isEnabled());
}

TEST_F(HoldingDeviceTest, ClickStartsTheWorkerAndReturns) {
  Click();
  EXPECT_FALSE(UpdateButton()->isEnabled());
  EXPECT_EQ(Text(1004), "Please wait for a while.");
  ASSERT_TRUE(QTest::qWaitFor([&] { return transport_.exchanges == 1; }, 5000));
  EXPECT_THAT(transport_.addresses(), ElementsAre("127.0.0.1"));
  EXPECT_EQ(form_->session().login_id, "admin");
  EXPECT_EQ(form_->session().password, "hj5pass");
  EXPECT_EQ(form_->session().ftp_port, 21);
  EXPECT_EQ(form_->session().http_port, 80);
}

TEST_F(HoldingDeviceTest, CloseWhileTheWorkerWaitsForTheDeviceEndsPromptly) {
  Click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return transport_.exchanges == 1; }, 5000));
  EXPECT_LT(CloseAndTime(), kPromptCloseMs);
  EXPECT_TRUE(transport_.cancelled());
  EXPECT_FALSE(form_->isVisible());
  // The worker's failure report after the cancel showed no box.
  EXPECT_TRUE(answerer_->boxes().empty());
  form_.reset();  // joins; nothing left running
}

TEST_F(AnsweringDeviceTest, CloseWhileTheWorkerSleepsEndsPromptly) {
  Click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return clock_.sleeps >= 1; }, 5000));
  EXPECT_LT(CloseAndTime(), kPromptCloseMs);
  EXPECT_TRUE(clock_.interrupted());
  EXPECT_TRUE(answerer_->boxes().empty());
  form_.reset();
}

TEST_F(FailingDeviceTest, CloseWhileTheWorkerWaitsForABoxEndsPromptly) {
  qint64 close_ms = -1;
  answerer_->on_box = [&](QMessageBox&, const test::SeenBox&) {
    // The operator closes the form instead of acknowledging the box; the
    // worker is blocked in the box meanwhile.
    QTimer::singleShot(50, form_.get(), [&] { close_ms = CloseAndTime(); });
    return false;
  };
  Click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return close_ms >= 0; }, 5000));
  EXPECT_LT(close_ms, kPromptCloseMs);
  EXPECT_EQ(answerer_->boxes().size(), 1u);  // no box after the close
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  form_.reset();
}

TEST_F(FailingDeviceTest, ClickWhileAnUpdateRunsOnlySaysSo) {
  std::string status_before, notice_before;
  answerer_->on_box = [&](QMessageBox& box, const test::SeenBox& seen) {
    if (seen.text != "Update Failure.") return true;
    // The worker waits in its last box; ReportError has enabled 1009.
    EXPECT_TRUE(seen.update_enabled);
    status_before = Text(1003);
    notice_before = Text(1004);
    UpdateButton()->click();
    box.button(QMessageBox::Ok)->click();
    return false;
  };
  Click();
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return answerer_->boxes().size() >= 3 && Text(1003) != ""; },
      5000));
  ASSERT_EQ(answerer_->boxes().size(), 3u);
  const std::vector<std::string> texts = answerer_->box_texts();
  EXPECT_EQ(texts[1], "Update Failure.");
  EXPECT_EQ(texts[2], "An update is already in progress.");
  EXPECT_EQ(answerer_->boxes()[2].icon, QMessageBox::Warning);
  // Nothing else changed: no second chooser, no second exchange, same lines.
  EXPECT_EQ(answerer_->choosers_seen(), 1);
  EXPECT_EQ(transport_.exchanges, 1);
  EXPECT_EQ(answerer_->boxes()[2].status, status_before);
  EXPECT_EQ(answerer_->boxes()[2].notice, notice_before);
}

TEST_F(FailingDeviceTest, AnEndedUpdateLetsTheNextClickStartAnother) {
  Click();
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        return answerer_->boxes().size() == 2 && UpdateButton()->isEnabled();
      },
      5000));
  // The worker's last act makes the runner idle; no sleep steps over it.
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return form_->runner().state() == UpdateRunner::State::kIdle; },
      5000));
  Click();
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return answerer_->boxes().size() == 4; }, 5000));
  EXPECT_EQ(answerer_->choosers_seen(), 2);
  EXPECT_EQ(transport_.exchanges, 2);
  EXPECT_THAT(
      answerer_->box_texts(),
      ElementsAre("Communication Error(Connection Error)", "Update Failure.",
                  "Communication Error(Connection Error)", "Update Failure."));
}

// The product's transport with a name lookup that hangs: the close ends
// within the stop's wait, and neither the form nor the transport waits for
// the lookup as they go.
TEST(FormCloseTest, CloseWhileAHostNameLookupHangsEndsPromptly) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString xml_path = dir.filePath(QStringLiteral("update.xml"));
  QFile file(xml_path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("<?xml version=\"1.0\"?>\n");
  file.close();
  test::StalledLookup lookup;
  BlockingClock clock;
  IdleFtpClient ftp;
  AsioHttpTransportOptions options;
  options.lookup = &lookup;
  auto transport = std::make_unique<AsioHttpTransport>(options);
  auto form = std::make_unique<UpdateForm>(Platform{*transport, ftp, clock});
  ModalAnswerer answerer(form.get());
  answerer.AnswerChooser(xml_path);
  // A name the seam is asked for and never answers; nothing leaves the
  // machine.
  form->findChild<QLineEdit*>(QStringLiteral("control1000"))
      ->setText(QStringLiteral("hj5-device.invalid"));
  form->show();
  QTest::mouseClick(
      form->findChild<QPushButton*>(QStringLiteral("control1009")),
      Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return lookup.started == 1; }, 5000));
  QElapsedTimer timer;
  timer.start();
  form->close();
  form.reset();
  transport.reset();
  EXPECT_LT(timer.elapsed(), kPromptCloseMs);
  EXPECT_TRUE(answerer.boxes().empty());
}

}  // namespace
}  // namespace hj5
