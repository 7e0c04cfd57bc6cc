// The runner: one update at a time, and a stop that ends the worker
// wherever it waits.

#include "update/update_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/asio_http_transport.h"
#include "support/blocking_fakes.h"
#include "support/transcript.h"

namespace hj5 {
namespace {

using std::chrono::milliseconds;
using test::BlockingClock;
using test::BlockingTransport;
using test::IdleFtpClient;
using test::StopLatch;

// Longer than any stop may take: past it the stop would have had to wait for
// something no interrupt reaches.
constexpr milliseconds kPromptStop{1500};

// A form whose chosen operation waits until Interrupt(), as a box waits for
// the operator or a line for the UI thread; the others return at once.
// Message 102 runs `upload` on the calling thread, as the command line does.
class StallingForm final : public FormOps {
 public:
  enum class Stall { kNothing, kBox, kLine };
  explicit StallingForm(Stall stall) : stall_(stall) {}

  void ShowBox(BoxKind, const std::string& text, const std::string&) override {
    Note("box " + text);
    if (stall_ == Stall::kBox) latch_.Wait();
  }
  void SetFieldText(FieldId, const std::string& text) override {
    Note("line " + text);
    if (stall_ == Stall::kLine) latch_.Wait();
  }
  void SetUpdateEnabled(bool) override {}
  void StartRestartTimer() override {}
  void StopRestartTimer() override {}
  Status SendFirmwareMessage() override { return upload ? upload() : Status(); }
  void Interrupt() override { latch_.Stop(); }

  // True once an operation with `prefix` was called.
  bool Saw(const std::string& prefix) {
    for (const std::string& line : seen_.Lines())
      if (line.starts_with(prefix)) return true;
    return false;
  }

  std::function<Status()> upload;

 private:
  void Note(std::string line) { seen_.Add(std::move(line)); }

  const Stall stall_;
  StopLatch latch_;
  test::Transcript seen_;
};

// An FTP client whose upload lasts until Cancel().
class StallingFtpClient final : public FtpClient {
 public:
  Status Send(const FtpUpload&) override {
    sending = true;
    latch_.Wait();
    return Status::Failure(ftp_code::kSendFile, "cancelled");
  }
  void Cancel() override { latch_.Stop(); }

  std::atomic<bool> sending{false};

 private:
  StopLatch latch_;
};

// Polls `condition` for up to 5 s.
bool Eventually(const std::function<bool()>& condition) {
  for (int i = 0; i < 5000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(milliseconds(1));
  }
  return condition();
}

milliseconds TimeStop(UpdateRunner& runner) {
  const auto start = std::chrono::steady_clock::now();
  runner.Stop();
  return std::chrono::duration_cast<milliseconds>(
      std::chrono::steady_clock::now() - start);
}

DeviceSession Loopback() {
  DeviceSession session;
  session.address = "127.0.0.1";
  return session;
}

// --- One update at a time -------------------------------------------------

TEST(UpdateRunnerTest, StartsOnlyWhenIdleAndNeverAfterAStop) {
  StallingForm form(StallingForm::Stall::kNothing);
  BlockingClock clock;
  BlockingTransport transport(BlockingTransport::Mode::kHold);
  IdleFtpClient ftp;
  std::atomic<int> runs{0};
  UpdateRunner runner(form, Platform{transport, ftp, clock},
                      [&](const UpdateContext& context) {
                        ++runs;
                        context.platform.clock.SleepMs(60000);
                        return UpdateOutcome{};
                      });
  EXPECT_EQ(runner.state(), UpdateRunner::State::kIdle);
  ASSERT_TRUE(runner.Start(Loopback(), {}));
  EXPECT_EQ(runner.state(), UpdateRunner::State::kRunning);
  EXPECT_FALSE(runner.Start(Loopback(), {}));  // one at a time
  ASSERT_TRUE(Eventually([&] { return clock.sleeps == 1; }));
  runner.Stop();
  EXPECT_EQ(runner.state(), UpdateRunner::State::kStopping);
  EXPECT_FALSE(runner.Start(Loopback(), {}));  // final
  EXPECT_EQ(runs, 1);
}

// The worker's last act and the runner turning idle are one step: once the
// runner reads idle, the next start succeeds, however soon it comes.
TEST(UpdateRunnerTest, AStartRightAfterAnUpdateEndedSucceeds) {
  StallingForm form(StallingForm::Stall::kNothing);
  BlockingClock clock;
  BlockingTransport transport(BlockingTransport::Mode::kFail);
  IdleFtpClient ftp;
  std::atomic<int> runs{0};
  UpdateRunner runner(form, Platform{transport, ftp, clock},
                      [&](const UpdateContext&) {
                        ++runs;
                        return UpdateOutcome{};
                      });
  for (int i = 1; i <= 200; ++i) {
    ASSERT_TRUE(Eventually(
        [&] { return runner.state() == UpdateRunner::State::kIdle; }));
    ASSERT_TRUE(runner.Start(Loopback(), {})) << "start " << i;
  }
  runner.Stop();
  EXPECT_EQ(runs, 200);
}

// --- Stop wherever the worker waits ---------------------------------------

// The real update procedure against fakes that hold it at one place.
struct Stalled {
  explicit Stalled(StallingForm::Stall stall, BlockingTransport::Mode mode)
      : form(stall), transport(mode) {}
  StallingForm form;
  BlockingClock clock;
  BlockingTransport transport;
  IdleFtpClient ftp;
};

TEST(UpdateRunnerStopTest, EndsASleep) {
  Stalled s(StallingForm::Stall::kNothing, BlockingTransport::Mode::kAnswer);
  UpdateRunner runner(s.form, Platform{s.transport, s.ftp, s.clock});
  ASSERT_TRUE(runner.Start(Loopback(), {}));
  ASSERT_TRUE(Eventually([&] { return s.clock.sleeps == 1; }));
  EXPECT_LT(TimeStop(runner), kPromptStop);
  EXPECT_TRUE(s.clock.interrupted());
}

TEST(UpdateRunnerStopTest, EndsAnExchange) {
  Stalled s(StallingForm::Stall::kNothing, BlockingTransport::Mode::kHold);
  UpdateRunner runner(s.form, Platform{s.transport, s.ftp, s.clock});
  ASSERT_TRUE(runner.Start(Loopback(), {}));
  ASSERT_TRUE(Eventually([&] { return s.transport.exchanges == 1; }));
  EXPECT_LT(TimeStop(runner), kPromptStop);
  EXPECT_TRUE(s.transport.cancelled());
}

// The product's transport whose name lookup hangs: neither the stop nor the
// transport's end waits for it.
TEST(UpdateRunnerStopTest, EndsAnExchangeWhoseNameLookupNeverReturns) {
  StallingForm form(StallingForm::Stall::kNothing);
  BlockingClock clock;
  test::StalledLookup lookup;
  IdleFtpClient ftp;
  AsioHttpTransportOptions options;
  options.lookup = &lookup;
  auto transport = std::make_unique<AsioHttpTransport>(options);
  auto runner =
      std::make_unique<UpdateRunner>(form, Platform{*transport, ftp, clock});
  DeviceSession session;
  session.address = "hj5-device.invalid";
  ASSERT_TRUE(runner->Start(session, {}));
  ASSERT_TRUE(Eventually([&] { return lookup.started == 1; }));
  EXPECT_LT(TimeStop(*runner), kPromptStop);
  const auto start = std::chrono::steady_clock::now();
  runner.reset();
  transport.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, kPromptStop);
}

TEST(UpdateRunnerStopTest, EndsABoxTheOperatorNeverDismisses) {
  Stalled s(StallingForm::Stall::kBox, BlockingTransport::Mode::kFail);
  UpdateRunner runner(s.form, Platform{s.transport, s.ftp, s.clock});
  ASSERT_TRUE(runner.Start(Loopback(), {}));
  ASSERT_TRUE(Eventually([&] { return s.form.Saw("box "); }));
  EXPECT_LT(TimeStop(runner), kPromptStop);
}

TEST(UpdateRunnerStopTest, EndsALineTheUiThreadNeverWrites) {
  Stalled s(StallingForm::Stall::kLine, BlockingTransport::Mode::kAnswer);
  UpdateRunner runner(s.form, Platform{s.transport, s.ftp, s.clock});
  ASSERT_TRUE(runner.Start(Loopback(), {}));
  ASSERT_TRUE(Eventually([&] { return s.form.Saw("line Processing(0)"); }));
  EXPECT_LT(TimeStop(runner), kPromptStop);
}

TEST(UpdateRunnerStopTest, EndsAnUploadOnTheWorker) {
  StallingForm form(StallingForm::Stall::kNothing);
  BlockingTransport transport(BlockingTransport::Mode::kAnswer);
  StallingFtpClient ftp;
  // Sleeps are instant until the stop, so the update reaches the upload.
  class InstantClock final : public Clock {
   public:
    void SleepMs(std::uint32_t) override {}
    std::int64_t NowSeconds() override { return 0; }
    void Interrupt() override {}
  } clock;
  UpdateRunner runner(form, Platform{transport, ftp, clock});
  form.upload = [&] { return runner.SendFirmware(); };
  ASSERT_TRUE(runner.Start(Loopback(), {"/tmp/update.xml", "update.xml"}));
  ASSERT_TRUE(Eventually([&] { return ftp.sending.load(); }));
  EXPECT_LT(TimeStop(runner), kPromptStop);
  // The cancelled upload is an upload failure, its cause kept, and the
  // outcome says the update was stopped with the device possibly left.
  const std::optional<UpdateOutcome> outcome = runner.outcome();
  ASSERT_TRUE(outcome);
  EXPECT_TRUE(outcome->stopped);
  EXPECT_TRUE(outcome->may_be_left_in_update);
  EXPECT_FALSE(outcome->completed);
  ASSERT_FALSE(outcome->failures.empty());
  EXPECT_EQ(outcome->failures.front().text(),
            "Firm Sending Error(Send File Error)");
  EXPECT_EQ(outcome->failures.front().cause(), "cancelled");
}

TEST(UpdateRunnerStopTest, ServesTheFrontEndsEventsWhileItWaits) {
  Stalled s(StallingForm::Stall::kNothing, BlockingTransport::Mode::kHold);
  UpdateRunner runner(s.form, Platform{s.transport, s.ftp, s.clock});
  ASSERT_TRUE(runner.Start(Loopback(), {}));
  ASSERT_TRUE(Eventually([&] { return s.transport.exchanges == 1; }));
  milliseconds limit{0};
  bool ended_when_done = false;
  runner.Stop([&](const std::function<bool()>& ended, milliseconds wait) {
    limit = wait;
    ended_when_done = Eventually(ended);
  });
  EXPECT_EQ(limit, UpdateRunner::kStopWait);
  EXPECT_TRUE(ended_when_done);
}

// A second close while the first one serves the front end's events.
TEST(UpdateRunnerStopTest, AStopFromWithinTheWaitIsHarmless) {
  Stalled s(StallingForm::Stall::kNothing, BlockingTransport::Mode::kHold);
  UpdateRunner runner(s.form, Platform{s.transport, s.ftp, s.clock});
  ASSERT_TRUE(runner.Start(Loopback(), {}));
  ASSERT_TRUE(Eventually([&] { return s.transport.exchanges == 1; }));
  runner.Stop([&](const std::function<bool()>& ended, milliseconds) {
    runner.Stop();
    EXPECT_TRUE(ended());
  });
  EXPECT_EQ(runner.state(), UpdateRunner::State::kStopping);
}

TEST(UpdateRunnerStopTest, TheDestructorStopsAndJoins) {
  Stalled s(StallingForm::Stall::kNothing, BlockingTransport::Mode::kHold);
  {
    UpdateRunner runner(s.form, Platform{s.transport, s.ftp, s.clock});
    ASSERT_TRUE(runner.Start(Loopback(), {}));
    ASSERT_TRUE(Eventually([&] { return s.transport.exchanges == 1; }));
  }
  EXPECT_TRUE(s.transport.cancelled());
  EXPECT_TRUE(s.clock.interrupted());
  EXPECT_TRUE(s.ftp.cancelled());
}

}  // namespace
}  // namespace hj5
