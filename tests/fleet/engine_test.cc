// The engine on a fake clock with fake device runs: the rollout's rules,
// the three steps of a stop, and an output that never holds the run.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>

#include "fleet/fleet_fakes.h"
#include "fleet/queued_observer.h"
#include "fleet/scheduler.h"

namespace hj5::fleet::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

class EngineTest : public ::testing::Test {
 protected:
  RunReport Run(const Plan& plan, RunObserver& observer) {
    return RunFleet({plan, 10000, time_, time_, runs_, observer});
  }
  RunReport Run(const Plan& plan) { return Run(plan, seen_); }

  FakeFleetTime time_;
  FakeDeviceRuns runs_{time_};
  RecordingObserver seen_;
};

TEST_F(EngineTest, AFailingCanaryEndsTheRunBeforeAnyOtherDeviceStarts) {
  Plan plan = PlanOf(6);
  plan.canary = 2;
  runs_.script(0).ms = 3000;
  runs_.script(1).completes = false;
  const RunReport report = Run(plan);
  EXPECT_THAT(runs_.started, ElementsAre(0, 1));
  EXPECT_THAT(seen_.lines, Contains("halt canary 1"));
  EXPECT_EQ(report.Count(false, false), 4u);
  EXPECT_EQ(ExitStatus(report), exit_status::kHalted);
}

TEST_F(EngineTest, CanariesThatCompleteLetTheRestStartAtTheFullWidth) {
  Plan plan = PlanOf(8, /*jobs=*/3);
  plan.canary = 2;
  const RunReport report = Run(plan);
  EXPECT_EQ(runs_.started.size(), 8u);
  EXPECT_EQ(runs_.most_running, 3u);
  // The third device waits for both canaries.
  EXPECT_THAT(
      seen_.lines,
      ElementsAre("end d0 completed", "end d1 completed", "end d2 completed",
                  "end d3 completed", "end d4 completed", "end d5 completed",
                  "end d6 completed", "end d7 completed", "exit 0"));
  EXPECT_EQ(ExitStatus(report), 0);
}

// A device whose worker cannot start is a failure like any other.
TEST_F(EngineTest, TheBudgetCountsOverTheWholeRunAndStopsFurtherStarts) {
  Plan plan = PlanOf(10, /*jobs=*/2);
  plan.max_failures = 1;
  runs_.script(2).start_fails = true;
  runs_.script(3).completes = false;
  runs_.script(3).ms = 2000;
  runs_.script(4).ms = 5000;  // running when the budget goes: it finishes
  const RunReport report = Run(plan);
  EXPECT_THAT(runs_.started, ElementsAre(0, 1, 3, 4));
  EXPECT_THAT(seen_.lines, Contains("halt budget 1"));
  EXPECT_THAT(seen_.lines, Contains("end d4 completed"));
  EXPECT_EQ(report.outcomes[2].text, "Update Failure.");
  EXPECT_EQ(report.Count(true, false), 2u);
  EXPECT_EQ(report.Count(false, false), 5u);
  EXPECT_EQ(ExitStatus(report), exit_status::kHalted);
}

TEST_F(EngineTest, CtrlCDrainsThenRestoresThenAbandons) {
  {  // Once: the running ones finish; no further device starts.
    Plan plan = PlanOf(4, /*jobs=*/2);
    for (std::size_t i : {0, 1}) runs_.script(i).ms = 3000;
    time_.InterruptAt(1000ms);
    const RunReport report = Run(plan);
    EXPECT_THAT(runs_.started, ElementsAre(0, 1));
    EXPECT_THAT(seen_.lines, Contains("halt drain 2"));
    EXPECT_EQ(report.Count(true, true), 2u);
    EXPECT_EQ(ExitStatus(report), 130);
  }
  {  // Twice: every running device stopped and restored.
    FakeFleetTime time;
    FakeDeviceRuns runs(time);
    RecordingObserver seen;
    Plan plan = PlanOf(4, /*jobs=*/2);
    for (std::size_t i : {0, 1}) runs.script(i).ms = 10000;
    runs.script(1).switched = false;  // stopped before FTP on
    time.InterruptAt(1000ms);
    time.InterruptAt(2000ms);
    const RunReport report = RunFleet({plan, 100, time, time, runs, seen});
    EXPECT_THAT(seen.lines, Contains("halt restore 2"));
    EXPECT_THAT(runs.restored, ElementsAre(0));
    EXPECT_EQ(ResultName(report.outcomes[0].result), std::string("restored"));
    EXPECT_EQ(ResultName(report.outcomes[1].result), std::string("stopped"));
    EXPECT_FALSE(report.outcomes[0].left_in_update());
    EXPECT_LT(time.ms(), 10000);
    EXPECT_EQ(ExitStatus(report), 130);
  }
  {  // A termination, then Ctrl-C during the restore: abandoned at once.
    FakeFleetTime time;
    FakeDeviceRuns runs(time);
    RecordingObserver seen;
    Plan plan = PlanOf(2);
    for (std::size_t i : {0, 1}) {
      runs.script(i).ms = 10000;
      runs.script(i).restore_ms = 60000;
    }
    time.TerminateAt(1000ms, 143);
    time.InterruptAt(2000ms);
    const RunReport report = RunFleet({plan, 100, time, time, runs, seen});
    EXPECT_THAT(seen.lines, Contains("halt abandon 2"));
    EXPECT_EQ(ResultName(report.outcomes[0].result), std::string("stopped"));
    EXPECT_TRUE(report.outcomes[0].left_in_update());
    EXPECT_LT(time.ms(), 3000);
    EXPECT_EQ(ExitStatus(report), 143);
  }
}

// A writer whose reader never reads: every call blocks until released.
class StalledWriter final : public RunObserver {
 public:
  explicit StalledWriter(RunObserver& target) : target_(target) {}
  void Release() {
    {
      std::lock_guard lock(mutex_);
      released_ = true;
    }
    changed_.notify_all();
  }
  void RunStarted(const Plan& plan, WallTime at) override {
    Hold();
    target_.RunStarted(plan, at);
  }
  void DeviceStarted(std::size_t i) override {
    Hold(), target_.DeviceStarted(i);
  }
  void DeviceEvent(std::size_t i, const Event& e) override {
    Hold(), target_.DeviceEvent(i, e);
  }
  void DeviceEnded(std::size_t i, const DeviceOutcome& o) override {
    Hold(), target_.DeviceEnded(i, o);
  }
  void Progressed(const Progress& p) override { Hold(), target_.Progressed(p); }
  void Halted(const Halt& h) override { Hold(), target_.Halted(h); }
  void WaitingForWindow() override { Hold(), target_.WaitingForWindow(); }
  void Dropped(std::size_t n) override { Hold(), target_.Dropped(n); }
  void RunEnded(const RunReport& r, int s) override {
    Hold(), target_.RunEnded(r, s);
  }

 private:
  // Bounded, so that a broken engine fails the test rather than hang it.
  void Hold() {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, 20s, [this] { return released_; });
  }
  RunObserver& target_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool released_ = false;
};

TEST_F(EngineTest, AStalledOutputHoldsNoDeviceAndLosesNoTextNorEnd) {
  Plan plan = PlanOf(20, /*jobs=*/20);
  for (std::size_t i = 0; i < 20; ++i) runs_.script(i).ms = 5000;
  time_.TerminateAt(1000ms);
  StalledWriter stalled(seen_);
  QueuedObserver queue(stalled, /*bound=*/16);
  const RunReport report = Run(plan, queue);
  // The stop that restores went through with nobody reading.
  EXPECT_EQ(runs_.restored.size(), 20u);
  EXPECT_EQ(report.Count(true, true), 0u);
  EXPECT_FALSE(queue.Drain(0ms));
  stalled.Release();
  ASSERT_TRUE(queue.Drain(10s));
  EXPECT_GT(seen_.dropped, 0u);
  EXPECT_EQ(seen_.events - seen_.droppable, 20u);  // each "Processing(0)"
  for (std::size_t i = 0; i < 20; ++i)
    EXPECT_THAT(seen_.lines,
                Contains("end d" + std::to_string(i) + " restored"));
  EXPECT_EQ(seen_.lines.back(), "exit 143");
  EXPECT_THAT(seen_.lines, Not(Contains("exit 0")));
}

// A window across midnight that closes while devices run: those finish,
// the rest never start, and the summary knows by how long they overran.
TEST_F(EngineTest, TheWindowStartsDevicesOnlyWhileItIsOpen) {
  Plan plan = PlanOf(6, /*jobs=*/2);
  plan.window = Window{23 * 60 + 57, 1};  // 23:57-00:01
  for (std::size_t i = 0; i < 6; ++i) runs_.script(i).ms = 120000;
  time_.StartAt(23, 58);
  const RunReport report = Run(plan);
  EXPECT_THAT(runs_.started, ElementsAre(0, 1, 2, 3));  // 23:58, 00:00
  EXPECT_THAT(seen_.lines, Contains("halt window 2"));  // 00:01
  EXPECT_EQ(report.Count(true, true), 4u);
  EXPECT_NEAR(report.window_overrun_seconds, 60, 0.5);  // ended 00:02
  EXPECT_EQ(ExitStatus(report), exit_status::kWindowClosed);
}

TEST_F(EngineTest, ARunWaitsForItsWindowUnlessAStopEndsTheWait) {
  Plan plan = PlanOf(2);
  plan.window = Window{23 * 60 + 57, 1};
  plan.wait_for_window = true;
  time_.StartAt(23, 50);
  const RunReport report = Run(plan);
  EXPECT_EQ(seen_.lines.front(), "wait window");
  EXPECT_EQ(runs_.started.size(), 2u);
  EXPECT_GE(time_.ms(), 7 * 60000);  // not before 23:57
  EXPECT_EQ(ExitStatus(report), 0);

  FakeFleetTime time;
  FakeDeviceRuns runs(time);
  RecordingObserver seen;
  time.StartAt(20, 0);
  time.InterruptAt(5000ms);
  const RunReport stopped = RunFleet({plan, 100, time, time, runs, seen});
  EXPECT_TRUE(runs.started.empty());
  EXPECT_LT(time.ms(), 6000);
  EXPECT_EQ(ExitStatus(stopped), 130);
}

}  // namespace
}  // namespace hj5::fleet::test
