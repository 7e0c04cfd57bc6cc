// The whole tool in one process: the real form with the real transport, FTP
// client and clock, the emulator as the device, and the test as the operator
// who answers the chooser and acknowledges every box.

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/modal_answerer.h"
#include "app/update_form.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "launch/product_platform.h"
#include "support/emulator_process.h"

namespace hj5 {
namespace {

using testing::Contains;
using testing::ElementsAre;

// Collects every text the status line shows, once per change.
class StatusRecorder {
 public:
  explicit StatusRecorder(QLineEdit* status) {
    QObject::connect(
        status, &QLineEdit::textChanged, &context_,
        [this](const QString& text) { seen_.push_back(text.toStdString()); });
  }
  // The texts in order, without empty ones and the counter's ticks.
  std::vector<std::string> Steps() const {
    std::vector<std::string> steps;
    for (const std::string& text : seen_) {
      if (text.empty() || text.starts_with("Restarting(")) continue;
      steps.push_back(text);
    }
    return steps;
  }
  const std::vector<std::string>& all() const { return seen_; }

 private:
  QObject context_;
  std::vector<std::string> seen_;
};

QLineEdit* Field(UpdateForm& form, int id) {
  return form.findChild<QLineEdit*>(QStringLiteral("control%1").arg(id));
}

TEST(WholeToolTest, UpdatesTheEmulatedDeviceFromEndToEnd) {
  test::EmulatorProcess emulator({"--reboot-seconds", "0.5"});
  ASSERT_TRUE(emulator.ok()) << emulator.error();

  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath(QStringLiteral("site-config.xml"));
  std::string content =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<site>\n";
  for (int i = 0; i < 2000; ++i)
    content += "  <entry n=\"" + std::to_string(i) + "\">\xC3\xA9</entry>\n";
  content += "</site>\n";
  {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(content.data(), static_cast<qint64>(content.size())),
              static_cast<qint64>(content.size()));
  }

  const ProductPlatform adapters;
  UpdateForm form(adapters.platform());
  test::ModalAnswerer answerer(&form);
  answerer.AnswerChooser(path);
  StatusRecorder status(Field(form, 1003));
  // Loopback only, set before anything is pressed.
  Field(form, 1000)->setText(QStringLiteral("127.0.0.1"));
  Field(form, 1001)->setText(QStringLiteral("admin"));
  Field(form, 1002)->setText(QStringLiteral("hj5pass"));
  Field(form, 1006)->setText(QString::number(emulator.ftp_port()));
  Field(form, 1007)->setText(QString::number(emulator.http_port()));
  form.show();

  auto* update = form.findChild<QPushButton*>(QStringLiteral("control1009"));
  QTest::mouseClick(update, Qt::LeftButton);
  ASSERT_EQ(answerer.choosers_seen(), 1);
  EXPECT_FALSE(update->isEnabled());

  // About 16 s of the procedure's own waits and two reboots.
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return !answerer.boxes().empty() && update->isEnabled(); }, 150000))
      << "status: " << Field(form, 1003)->text().toStdString();

  EXPECT_EQ(Field(form, 1003)->text(), "Update completed.");
  EXPECT_EQ(Field(form, 1004)->text(), "");
  ASSERT_EQ(answerer.boxes().size(), 1u) << answerer.boxes()[0].text;
  EXPECT_EQ(answerer.boxes()[0].text, "Update completed.");
  EXPECT_EQ(answerer.boxes()[0].icon, QMessageBox::Information);
  EXPECT_THAT(status.Steps(),
              ElementsAre("Processing(0)", "Processing(1)", "Processing(2)",
                          "Restarting ....", "Processing(3)", "Processing(4)",
                          "Processing(6)", "Processing(7)", "Restarting ....",
                          "Update completed."));
  EXPECT_THAT(status.all(), Contains("Restarting(1)"));

  EXPECT_TRUE(emulator.HasStoredFile("site-config.xml"));
  EXPECT_EQ(emulator.StoredFile("site-config.xml"), content);
  EXPECT_EQ(emulator.Param("svr_ftp_port"), "0");
  EXPECT_EQ(emulator.Param("user9"), "HJ5M");

  form.close();
}

// The operator closes the tool in the middle of a real update: the close
// ends within the runner's stop wait whatever the worker was doing, and the
// device is left as it was (the next update accepts it).
class CloseDuringUpdateTest : public testing::Test {
 protected:
  void Open(test::EmulatorProcess& emulator) {
    ASSERT_TRUE(dir_.isValid());
    path_ = dir_.filePath(QStringLiteral("update.xml"));
    QFile file(path_);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<?xml version=\"1.0\"?>\n<config/>\n");
    file.close();
    form_ = std::make_unique<UpdateForm>(adapters_.platform());
    answerer_ = std::make_unique<test::ModalAnswerer>(form_.get());
    answerer_->AnswerChooser(path_);
    // Loopback only, set before anything is pressed.
    Field(*form_, 1000)->setText(QStringLiteral("127.0.0.1"));
    Field(*form_, 1001)->setText(QStringLiteral("admin"));
    Field(*form_, 1002)->setText(QStringLiteral("hj5pass"));
    Field(*form_, 1006)->setText(QString::number(emulator.ftp_port()));
    Field(*form_, 1007)->setText(QString::number(emulator.http_port()));
    form_->show();
    QTest::mouseClick(
        form_->findChild<QPushButton*>(QStringLiteral("control1009")),
        Qt::LeftButton);
  }

  bool StatusReaches(const QString& prefix) {
    return QTest::qWaitFor(
        [&] { return Field(*form_, 1003)->text().startsWith(prefix); }, 30000);
  }

  qint64 CloseAndTime() {
    QElapsedTimer timer;
    timer.start();
    form_->close();
    return timer.elapsed();
  }

  void TearDown() override {
    answerer_.reset();
    form_.reset();
  }

  QTemporaryDir dir_;
  QString path_;
  const ProductPlatform adapters_;
  std::unique_ptr<UpdateForm> form_;
  std::unique_ptr<test::ModalAnswerer> answerer_;
};

TEST_F(CloseDuringUpdateTest, DuringTheRebootWait) {
  test::EmulatorProcess emulator({"--reboot-seconds", "60"});
  ASSERT_TRUE(emulator.ok()) << emulator.error();
  Open(emulator);
  ASSERT_TRUE(StatusReaches(QStringLiteral("Restarting(2)")));
  EXPECT_LT(CloseAndTime(), UpdateRunner::kStopWait.count());
  EXPECT_EQ(form_->runner().state(), UpdateRunner::State::kStopping);
  EXPECT_TRUE(answerer_->boxes().empty());
  EXPECT_EQ(emulator.Param("user9"), "UPDATE");
}

TEST_F(CloseDuringUpdateTest, DuringAnExchangeTheDeviceNeverAnswers) {
  test::EmulatorProcess emulator(
      {"--fault", R"({"match": {"CODE": "user9"}, "blackhole": true})"});
  ASSERT_TRUE(emulator.ok()) << emulator.error();
  Open(emulator);
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return emulator.RequestBodies().size() == 3; }, 30000));
  EXPECT_LT(CloseAndTime(), UpdateRunner::kStopWait.count());
  EXPECT_TRUE(answerer_->boxes().empty());
  EXPECT_EQ(emulator.RequestBodies().size(), 3u);  // nothing after the close
}

}  // namespace
}  // namespace hj5
