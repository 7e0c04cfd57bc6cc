// The form operations from the worker thread and from the UI thread, and
// what they do once the form is closing.

#include "app/qt_form_ops.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QObject>
#include <QTest>
#include <QThread>
#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/modal_answerer.h"
#include "app/update_form.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "support/blocking_fakes.h"

namespace hj5 {
namespace {

using test::BlockingClock;
using test::BlockingTransport;
using test::IdleFtpClient;
using test::ModalAnswerer;
using testing::ElementsAre;

// The UI side: records which thread ran each operation.
class RecordingOps final : public FormOps {
 public:
  void ShowBox(BoxKind, const std::string& text,
               const std::string& cause) override {
    Record("box " + text + (cause.empty() ? "" : " (" + cause + ")"));
  }
  void SetFieldText(FieldId, const std::string& text) override {
    Record("set " + text);
  }
  void SetUpdateEnabled(bool) override { Record("enable"); }
  void StartRestartTimer() override { Record("timer on"); }
  void StopRestartTimer() override { Record("timer off"); }
  Status SendFirmwareMessage() override {
    Record("102");
    return Status();
  }
  void Interrupt() override { Record("interrupt"); }

  std::vector<std::string> calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  bool all_on(QThread* thread) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (QThread* t : threads_)
      if (t != thread) return false;
    return true;
  }

 private:
  void Record(const std::string& call) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(call);
    threads_.push_back(QThread::currentThread());
  }
  std::mutex mutex_;
  std::vector<std::string> calls_;
  std::vector<QThread*> threads_;
};

// Runs `work` on a thread of its own while the UI thread serves events;
// returns once it has ended (or after 10 s, failing the test).
template <typename Work>
void RunOnWorker(Work work) {
  std::atomic<bool> done{false};
  std::thread worker([&] {
    work();
    done = true;
  });
  EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 10000));
  worker.join();
}

TEST(QtFormOpsTest, WorkerCallsRunOnTheUiThreadAndReturnTheirResults) {
  QObject ui_object;
  RecordingOps ui;
  QtFormOps ops(ui_object, ui);
  bool sent = false;
  RunOnWorker([&] {
    ops.SetFieldText(FieldId::kStatus, "Processing(0)");
    ops.SetUpdateEnabled(true);
    ops.StartRestartTimer();
    ops.StopRestartTimer();
    sent = ops.SendFirmwareMessage().ok();
    ops.ShowBox(BoxKind::kWarning, "Update Failure.", "why");
  });
  EXPECT_TRUE(sent);
  EXPECT_THAT(ui.calls(),
              ElementsAre("set Processing(0)", "enable", "timer on",
                          "timer off", "102", "box Update Failure. (why)"));
  EXPECT_TRUE(ui.all_on(QThread::currentThread()));
}

TEST(QtFormOpsTest, UiThreadCallsRunDirectlyWithoutAnEventLoop) {
  QObject ui_object;
  RecordingOps ui;
  QtFormOps ops(ui_object, ui);
  // No event is served here: a posted call would never run.
  ops.SetFieldText(FieldId::kNotice, "");
  EXPECT_TRUE(ops.SendFirmwareMessage().ok());
  EXPECT_THAT(ui.calls(), ElementsAre("set ", "102"));
}

TEST(QtFormOpsTest, ClosingReleasesAWorkerTheUiThreadNeverServed) {
  QObject ui_object;
  RecordingOps ui;
  QtFormOps ops(ui_object, ui);
  // The UI thread serves no event while the worker waits: only the close can
  // release it.
  auto sent = std::async(std::launch::async,
                         [&] { return ops.SendFirmwareMessage().ok(); });
  auto shown = std::async(std::launch::async, [&] {
    ops.ShowBox(BoxKind::kWarning, "Update Failure.", "");
    return true;
  });
  EXPECT_EQ(sent.wait_for(std::chrono::milliseconds(200)),
            std::future_status::timeout);
  ops.Interrupt();
  ASSERT_EQ(sent.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  ASSERT_EQ(shown.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_FALSE(sent.get());  // never "stored"
  // The posted calls, served later, do nothing; the form's own waits were
  // interrupted on the UI thread.
  QCoreApplication::processEvents();
  EXPECT_THAT(ui.calls(), ElementsAre("interrupt"));
}

TEST(QtFormOpsTest, OnceClosingEveryCallFailsAtOnceOnAnyThread) {
  QObject ui_object;
  RecordingOps ui;
  QtFormOps ops(ui_object, ui);
  ops.Interrupt();
  EXPECT_TRUE(ops.closing());
  auto all_calls = [&] {
    ops.ShowBox(BoxKind::kWarning, "x", "");
    ops.SetFieldText(FieldId::kStatus, "x");
    ops.SetUpdateEnabled(true);
    ops.StartRestartTimer();
    ops.StopRestartTimer();
    EXPECT_FALSE(ops.SendFirmwareMessage().ok());
  };
  all_calls();
  std::thread worker(all_calls);  // no event loop needed: nothing waits
  worker.join();
  EXPECT_THAT(ui.calls(), ElementsAre("interrupt"));
}

// --- Through the real form -------------------------------------------------

class FormOpsOnFormTest : public testing::Test {
 protected:
  BlockingClock clock_;
  BlockingTransport transport_{BlockingTransport::Mode::kFail};
  IdleFtpClient ftp_;
  UpdateForm form_{Platform{transport_, ftp_, clock_}};
};

TEST_F(FormOpsOnFormTest, AWorkerBoxReturnsOnlyAfterTheOperatorDismissedIt) {
  ModalAnswerer answerer(&form_);
  std::mutex mutex;
  std::vector<std::string> events;
  auto note = [&](const std::string& event) {
    std::lock_guard<std::mutex> lock(mutex);
    events.push_back(event);
  };
  answerer.on_box = [&](QMessageBox& box, const test::SeenBox&) {
    note("box shown");
    QTimer::singleShot(300, &box, [&note, &box] {
      note("box dismissed");
      box.button(QMessageBox::Ok)->click();
    });
    return false;
  };
  RunOnWorker([&] {
    form_.form_ops().SetFieldText(FieldId::kStatus, "Processing(1)");
    form_.form_ops().ShowBox(BoxKind::kWarning, "Update Failure.", "");
    note("worker returned");
  });
  EXPECT_EQ(form_.findChild<QLineEdit*>("control1003")->text(),
            "Processing(1)");
  EXPECT_THAT(events,
              ElementsAre("box shown", "box dismissed", "worker returned"));
}

TEST_F(FormOpsOnFormTest, ClosingTheFormFailsEveryLaterCall) {
  form_.show();
  form_.done(QDialog::Rejected);
  bool sent = true;
  RunOnWorker([&] {
    form_.form_ops().SetFieldText(FieldId::kStatus, "after close");
    sent = form_.form_ops().SendFirmwareMessage().ok();
  });
  EXPECT_FALSE(sent);
  EXPECT_EQ(form_.findChild<QLineEdit*>("control1003")->text(), "");
  EXPECT_TRUE(clock_.interrupted());
  EXPECT_TRUE(transport_.cancelled());
  EXPECT_TRUE(ftp_.cancelled());
}

}  // namespace
}  // namespace hj5
