#include "fleet/scheduler.h"

#include <algorithm>
#include <memory>
#include <optional>

namespace hj5::fleet {
namespace {

constexpr std::chrono::milliseconds kTick{200};

struct Running {
  std::size_t index;
  std::unique_ptr<DeviceLog> log;  // outlives the run's worker
  std::unique_ptr<DeviceRun> run;
  SteadyTime started;
};

// How far stop requests have taken the run.
enum class Stopping {
  kNo,
  kDraining,    // no further device starts
  kRecovering,  // the running ones stopped, their devices being restored
  kAbandoned,   // everything stopped at once
};

double Seconds(SteadyTime from, SteadyTime to) {
  return std::chrono::duration<double>(to - from).count();
}

class Fleet {
 public:
  explicit Fleet(const FleetSetup& setup)
      : setup_(setup),
        plan_(setup.plan),
        width_(std::max<std::size_t>(1, std::min(plan_.jobs, setup.capacity))),
        canaries_(std::min(plan_.canary, plan_.devices.size())),
        outcomes_(plan_.devices.size()),
        failed_(plan_.devices.size(), false),
        began_(setup.clock.Now()) {}

  RunReport Run() {
    setup_.observer.RunStarted(plan_, setup_.clock.WallNow());
    CountEarlierFailures();
    if (!WindowOpen()) WaitForWindow();
    while (true) {
      StartWhatMay();
      if (running_.empty() && (Halted() || next_ == plan_.devices.size()))
        break;
      Signals(setup_.stops.Wait(kTick));
      CollectEnded();
    }
    RunReport report = Report();
    const WallTime now = setup_.clock.WallNow();
    if (setup_.record && report.record_failure.empty())
      report.record_failure = setup_.record->Missing();
    if (setup_.record) {
      Status written = setup_.record->Finish(report, ExitStatus(report), now);
      if (!written.ok() && report.record_failure.empty())
        report.record_failure = written.cause();
    }
    setup_.observer.RunEnded(report, ExitStatus(report));
    return report;
  }

 private:
  bool Halted() const { return stopping_ != Stopping::kNo || stop_; }

  // The devices whose run has not ended yet.
  std::size_t RunningNow() const {
    return static_cast<std::size_t>(std::count_if(
        running_.begin(), running_.end(),
        [](const Running& e) { return e.run && !e.run->Ended(); }));
  }

  // The devices that may start now: only the canaries until all of them
  // have ended.
  std::size_t Limit() const {
    return canaries_ended_ < canaries_ ? canaries_ : plan_.devices.size();
  }

  // A device whose update completed in an earlier pass: sent nothing.
  bool Skipped(std::size_t index) {
    const std::string& label = plan_.devices[index].label;
    if (!setup_.record || !plan_.resume ||
        !setup_.record->CompletedBefore(label))
      return false;
    DeviceOutcome outcome;
    outcome.device = label;
    outcome.result = Result::kCompletedBefore;
    outcome.succeeded = true;
    setup_.observer.DeviceEnded(index, outcome);
    outcomes_[index] = std::move(outcome);
    if (index < canaries_) ++canaries_ended_;
    ++ended_;
    return true;
  }

  // Every event of device `index` goes to its log and to the observer.
  DeviceRuns::Sink SinkFor(std::size_t index, DeviceLog* log) {
    RunObserver& observer = setup_.observer;
    RunRecord* record = setup_.record;
    return [index, log, record, &observer](const Event& event) {
      if (log && !log->Write(event))
        record->NoteMissing("a device's log cannot be written");
      observer.DeviceEvent(index, event);
    };
  }

  bool WindowOpen() {
    return !plan_.window || plan_.window->Open(setup_.clock.LocalMinute());
  }

  // A run begun while its window is closed waits for it, or (without
  // --wait-for-window) starts nothing; a stop request ends the wait.
  void WaitForWindow() {
    if (!plan_.wait_for_window) return CloseWindow();
    setup_.observer.WaitingForWindow();
    while (!WindowOpen() && stopping_ == Stopping::kNo)
      Signals(setup_.stops.Wait(kTick));
  }

  void CloseWindow() {
    stop_ = HaltReason::kWindow;
    window_closed_ = setup_.clock.Now();
    Halt halt;
    halt.reason = HaltReason::kWindow;
    halt.running = RunningNow();
    setup_.observer.Halted(halt);
  }

  // A resume of a rollout its window stopped counts the canary and the
  // budget over the whole rollout: each device once, by its latest line.
  void CountEarlierFailures() {
    if (!setup_.record || !plan_.resume || !setup_.record->StoppedByWindow())
      return;
    for (std::size_t i = 0; i < plan_.devices.size(); ++i) {
      if (!setup_.record->FailedBefore(plan_.devices[i].label)) continue;
      failed_[i] = true;
      ++failures_;
    }
  }

  void StartWhatMay() {
    if (!Halted() && next_ < plan_.devices.size() && !WindowOpen())
      CloseWindow();
    while (!Halted() && running_.size() < width_ && next_ < Limit()) {
      const std::size_t index = next_++;
      if (Skipped(index)) continue;
      Running entry{index, nullptr, nullptr, setup_.clock.Now()};
      if (setup_.record) entry.log = setup_.record->OpenLog(index);
      entry.run = setup_.runs.Make(index, SinkFor(index, entry.log.get()));
      setup_.observer.DeviceStarted(index);
      if (entry.run->Start()) {
        running_.push_back(std::move(entry));
      } else {
        Finish(entry);
      }
    }
  }

  void Signals(const StopRequests& requests) {
    if (requests.drains > 0 && stopping_ == Stopping::kNo) {
      ++interrupts_;
      Escalate(Stopping::kDraining);
    }
    if (requests.restores > 0 && stopping_ < Stopping::kRecovering) {
      termination_status_ = 143;  // as SIGTERM
      Escalate(Stopping::kRecovering);
    }
    for (int i = 0; i < requests.interrupts; ++i) {
      ++interrupts_;
      Escalate(stopping_ == Stopping::kNo         ? Stopping::kDraining
               : stopping_ == Stopping::kDraining ? Stopping::kRecovering
                                                  : Stopping::kAbandoned);
    }
    for (int i = 0; i < requests.terminations; ++i) {
      termination_status_ = requests.termination_status;
      Escalate(stopping_ < Stopping::kRecovering ? Stopping::kRecovering
                                                 : Stopping::kAbandoned);
    }
  }

  // Every running device interrupted first, then each joined: the stop
  // takes as long as the slowest device, with no thread for each.
  void StopAll() {
    for (Running& entry : running_) entry.run->Interrupt();
    for (Running& entry : running_) entry.run->Join();
  }

  void Escalate(Stopping to) {
    if (to <= stopping_) return;
    stopping_ = to;
    Halt halt;
    halt.running = RunningNow();
    switch (to) {
      case Stopping::kDraining:
        halt.reason = HaltReason::kDrain;
        setup_.observer.Halted(halt);
        break;
      case Stopping::kRecovering:
        halt.reason = HaltReason::kRestore;
        setup_.observer.Halted(halt);
        StopAll();
        for (Running& entry : running_) entry.run->Recover();
        break;
      case Stopping::kAbandoned:
        halt.reason = HaltReason::kAbandon;
        setup_.observer.Halted(halt);
        StopAll();
        break;
      case Stopping::kNo:
        break;
    }
  }

  void CollectEnded() {
    const SteadyTime now = setup_.clock.Now();
    for (Running& entry : running_) {
      entry.run->Tick(now);
      if (entry.run->Ended()) Finish(entry);  // its descriptors go with it
    }
    std::erase_if(running_, [](const Running& entry) { return !entry.run; });
    Progress progress;
    for (const Running& entry : running_) {
      const DeviceView view = entry.run->View();
      progress.uploading += view.uploading ? 1 : 0;
      if (progress.rows.size() < setup_.live_rows)
        progress.rows.emplace_back(entry.index, view);
    }
    Tell(progress, now);
  }

  // The head line's figures: devices done of all, failed, running,
  // uploading, the rate and, once there is one, the estimated end.
  void Tell(Progress& progress, SteadyTime now) {
    progress.devices = plan_.devices.size();
    progress.done = ended_;
    progress.failed = ended_failed_;
    progress.succeeded = ended_ - ended_failed_;
    progress.running = running_.size();
    progress.halted = Halted();
    progress.seconds = Seconds(began_, now);
    const double minutes = progress.seconds / 60;
    if (ended_ > 0 && minutes > 0) {
      progress.per_minute = ended_ / minutes;
      const std::size_t left = progress.devices - ended_;
      if (left > 0 && !Halted())
        progress.eta_seconds = left / *progress.per_minute * 60;
    }
    setup_.observer.Progressed(progress);
  }

  void Finish(Running& entry) {
    const std::size_t index = entry.index;
    DeviceOutcome outcome =
        Judge(plan_.mode, plan_.devices[index].label, entry.run->Legs());
    const SteadyTime now = setup_.clock.Now();
    outcome.seconds = Seconds(entry.started, now);
    if (window_closed_) last_end_ = now;
    entry.run.reset();  // joined: nothing writes its log any more
    ++ended_;
    Journal(outcome);
    setup_.observer.DeviceEnded(index, outcome);
    const bool failed = !outcome.succeeded;
    ended_failed_ += failed ? 1 : 0;
    outcomes_[index] = std::move(outcome);
    if (index < canaries_) ++canaries_ended_;
    if (failed_[index] && !failed) --failures_;  // it failed before
    if (failed && !failed_[index]) {
      failed_[index] = true;
      Failed(index);
    }
    failed_[index] = failed;
  }

  // The journal is the run's write-ahead log: once a line is lost, no
  // further device starts.
  void Journal(const DeviceOutcome& outcome) {
    if (!setup_.record) return;
    const Status written =
        setup_.record->Journal(outcome, setup_.clock.WallNow());
    if (written.ok() || !record_failure_.empty()) return;
    record_failure_ = written.cause();
    if (!Halted()) stop_ = HaltReason::kRecord;
    Halt halt;
    halt.reason = HaltReason::kRecord;
    halt.running = RunningNow();
    halt.cause = record_failure_;
    setup_.observer.Halted(halt);
  }

  // A device that had not failed before, failing now.
  void Failed(std::size_t index) {
    ++failures_;
    if (Halted()) return;
    Halt halt;
    halt.running = RunningNow();
    if (index < canaries_) {
      stop_ = halt.reason = HaltReason::kCanary;
      halt.device = plan_.devices[index].label;
    } else if (plan_.max_failures && failures_ > *plan_.max_failures) {
      stop_ = halt.reason = HaltReason::kBudget;
      halt.failed = failures_;
      halt.allowed = *plan_.max_failures;
    } else {
      return;
    }
    setup_.observer.Halted(halt);
  }

  RunReport Report() const {
    RunReport report;
    report.mode = plan_.mode;
    report.stop = stop_;
    report.max_failures = plan_.max_failures;
    report.interrupted = stopping_ != Stopping::kNo;
    report.record_failure = record_failure_;
    if (window_closed_ && last_end_ > *window_closed_)
      report.window_overrun_seconds = Seconds(*window_closed_, last_end_);
    if (termination_status_ != 0) {
      report.signal_status = termination_status_;
    } else if (interrupts_ > 0) {
      report.signal_status = 130;
    }
    for (std::size_t i = 0; i < plan_.devices.size(); ++i) {
      DeviceOutcome not_started;
      not_started.device = plan_.devices[i].label;
      report.outcomes.push_back(outcomes_[i].value_or(not_started));
    }
    return report;
  }

  const FleetSetup& setup_;
  const Plan& plan_;
  const std::size_t width_;
  const std::size_t canaries_;
  std::vector<std::optional<DeviceOutcome>> outcomes_;
  std::vector<bool> failed_;  // each device by its latest end
  std::vector<Running> running_;
  std::size_t next_ = 0;
  std::size_t canaries_ended_ = 0;
  std::size_t ended_ = 0;         // devices run to their end, or skipped
  std::size_t failures_ = 0;      // over the rollout, for the budget
  std::size_t ended_failed_ = 0;  // this run's
  const SteadyTime began_;
  std::optional<HaltReason> stop_;
  std::optional<SteadyTime> window_closed_;
  SteadyTime last_end_{};
  std::string record_failure_;
  Stopping stopping_ = Stopping::kNo;
  int interrupts_ = 0;
  int termination_status_ = 0;
};

}  // namespace

RunReport RunFleet(const FleetSetup& setup) { return Fleet(setup).Run(); }

}  // namespace hj5::fleet
