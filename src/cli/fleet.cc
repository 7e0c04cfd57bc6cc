#include "cli/fleet.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>

#include "cli/device_run.h"

namespace hj5::cli {
namespace {

constexpr std::chrono::milliseconds kTick{200};

struct Running {
  std::size_t index;
  std::unique_ptr<DeviceRun> run;
  std::chrono::steady_clock::time_point started;
};

// "1,234" style counts are not needed; "12 of 1000 done" is.
std::string Rate(double per_minute) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f/min", per_minute);
  return text;
}

// "in 3 min", "in 1 h 05 min".
std::string Remaining(double minutes) {
  const long whole = static_cast<long>(minutes + 0.5);
  if (whole < 60) return "in " + std::to_string(std::max(whole, 1L)) + " min";
  char text[64];
  std::snprintf(text, sizeof text, "in %ld h %02ld min", whole / 60,
                whole % 60);
  return text;
}

std::string Devices(std::size_t count, const char* what) {
  return std::to_string(count) +
         (count == 1 ? " running device" : " running devices") + what;
}

// Runs `act` on every running device at once, each on a thread of its own,
// since a stop waits for its worker to end.
void OnEach(std::vector<Running>& running, void (DeviceRun::*act)()) {
  std::vector<std::thread> threads;
  for (Running& entry : running)
    threads.emplace_back([run = entry.run.get(), act] { (run->*act)(); });
  for (std::thread& thread : threads) thread.join();
}

// How far a stop signal has taken the run.
enum class Stopping {
  kNo,
  kDraining,    // no further device starts
  kRecovering,  // the running ones stopped, their devices being restored
  kAbandoned,   // everything stopped at once
};

class Fleet {
 public:
  explicit Fleet(const FleetSetup& setup)
      : setup_(setup),
        devices_(setup.plan.devices),
        width_(std::max<std::size_t>(
            1, std::min(setup.plan.jobs, setup.capacity))),
        canaries_(std::min(setup.plan.canary, devices_.size())),
        outcomes_(devices_.size()),
        began_(std::chrono::steady_clock::now()) {
    if (setup.plan.max_uploads > 0) gate_.emplace(setup.plan.max_uploads);
  }

  RunReport Run() {
    while (true) {
      StartWhatMay();
      if (running_.empty() && (Halted() || next_ == devices_.size())) break;
      Signals(setup_.wait_for_signals(kTick));
      CollectEnded();
    }
    return Report();
  }

 private:
  bool Halted() const {
    return stopping_ != Stopping::kNo || stop_ != RunStop::kNone;
  }

  // The devices that may start now: only the canaries until all of them
  // have ended.
  std::size_t Limit() const {
    return canaries_ended_ < canaries_ ? canaries_ : devices_.size();
  }

  // A device its journal says completed with this file: sent nothing.
  bool Skipped(std::size_t index) {
    RunFolder* folder = setup_.folder;
    if (!folder || !setup_.plan.resume ||
        !folder->completed().contains(devices_[index].label))
      return false;
    outcomes_[index] = DeviceOutcome{
        devices_[index].label, "completed before", "", true, {}, {}, 0};
    setup_.output.Emit({devices_[index].label, "end", "completed before", "",
                        std::nullopt, std::nullopt, std::nullopt});
    if (index < canaries_) ++canaries_ended_;
    ++ended_;
    return true;
  }

  void StartWhatMay() {
    while (!Halted() && running_.size() < width_ && next_ < Limit()) {
      const std::size_t index = next_++;
      if (Skipped(index)) continue;
      auto run = std::make_unique<DeviceRun>(
          devices_[index], setup_.plan, setup_.output,
          setup_.folder ? setup_.folder->OpenLog(index) : nullptr,
          gate_ ? &*gate_ : nullptr);
      const auto now = std::chrono::steady_clock::now();
      if (run->Start()) {
        running_.push_back({index, std::move(run), now});
      } else {
        Finish(index, *run, now);
      }
    }
  }

  void Signals(const StopSignals& signals) {
    for (int i = 0; i < signals.interrupts; ++i) {
      ++interrupts_;
      Escalate(stopping_ == Stopping::kNo         ? Stopping::kDraining
               : stopping_ == Stopping::kDraining ? Stopping::kRecovering
                                                  : Stopping::kAbandoned);
    }
    for (int i = 0; i < signals.terminations; ++i) {
      termination_status_ = signals.termination_status;
      Escalate(stopping_ < Stopping::kRecovering ? Stopping::kRecovering
                                                 : Stopping::kAbandoned);
    }
  }

  void Escalate(Stopping to) {
    if (to <= stopping_) return;
    stopping_ = to;
    Output& out = setup_.output;
    switch (to) {
      case Stopping::kDraining:
        out.Note("Interrupted: no further device starts; " +
                 Devices(running_.size(), " will finish.") +
                 " Ctrl-C again stops them and restores their devices.");
        break;
      case Stopping::kRecovering:
        out.Note("Stopping " + Devices(running_.size(), "") +
                 "; each that may be left in update is restored (FTP off, "
                 "device code back, restart). Ctrl-C again abandons them.");
        OnEach(running_, &DeviceRun::Stop);
        for (Running& entry : running_) entry.run->Recover();
        break;
      case Stopping::kAbandoned:
        out.Note("Abandoning " + Devices(running_.size(), " now."));
        OnEach(running_, &DeviceRun::Abandon);
        break;
      case Stopping::kNo:
        break;
    }
  }

  void CollectEnded() {
    const auto now = TerminalForm::Clock::now();
    std::vector<LiveRow> rows;
    std::size_t uploading = 0;
    for (auto it = running_.begin(); it != running_.end();) {
      it->run->Tick(now);
      if (it->run->Ended()) {
        Finish(it->index, *it->run, it->started);
        it = running_.erase(it);  // its adapters' descriptors go with it
      } else {
        rows.push_back(it->run->Row());
        uploading += rows.back().view.uploading ? 1 : 0;
        ++it;
      }
    }
    setup_.output.Live(rows, Progress(uploading));
  }

  // The head line: devices done of all, failed, running, uploading, the
  // rate and, once there is one, the estimated end.
  std::string Progress(std::size_t uploading) const {
    const std::size_t done = ended_;
    std::string head = std::to_string(done) + " of " +
                       std::to_string(devices_.size()) + " done, " +
                       std::to_string(failures_) + " failed, " +
                       std::to_string(running_.size()) + " running, " +
                       std::to_string(uploading) + " uploading";
    const double minutes =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began_)
            .count() /
        60;
    if (done == 0 || minutes <= 0) return head;
    const double rate = done / minutes;
    head += ", " + Rate(rate);
    const std::size_t left = devices_.size() - done;
    if (left > 0 && !Halted()) head += ", end " + Remaining(left / rate);
    return head;
  }

  void Finish(std::size_t index, const DeviceRun& run,
              std::chrono::steady_clock::time_point started) {
    DeviceOutcome outcome = run.Outcome();
    outcome.seconds = std::chrono::duration<double>(
                          std::chrono::steady_clock::now() - started)
                          .count();
    ++ended_;
    if (setup_.folder && !setup_.folder->Journal(outcome, UtcTimestamp()) &&
        !journal_failed_) {
      journal_failed_ = true;
      setup_.output.Note("The run folder's journal cannot be written.");
    }
    Event end;
    end.device = outcome.device;
    end.kind = "end";
    end.text = outcome.result;
    setup_.output.Emit(end);
    const bool failed = !outcome.succeeded;
    outcomes_[index] = std::move(outcome);
    if (index < canaries_) ++canaries_ended_;
    if (!failed) return;
    ++failures_;
    if (stop_ != RunStop::kNone || stopping_ != Stopping::kNo) return;
    if (index < canaries_) {
      stop_ = RunStop::kCanary;
      setup_.output.Note("The canary " + devices_[index].label +
                         " failed: no other device starts.");
    } else if (setup_.plan.max_failures &&
               failures_ > *setup_.plan.max_failures) {
      stop_ = RunStop::kBudget;
      setup_.output.Note(std::to_string(failures_) +
                         " devices failed, more than the " +
                         std::to_string(*setup_.plan.max_failures) +
                         " allowed: no further device starts.");
    }
  }

  RunReport Report() const {
    RunReport report;
    report.stop = stop_;
    report.max_failures = setup_.plan.max_failures;
    report.interrupted = stopping_ != Stopping::kNo;
    if (termination_status_ != 0) {
      report.signal_status = termination_status_;
    } else if (interrupts_ > 0) {
      report.signal_status = 130;
    }
    for (std::size_t i = 0; i < devices_.size(); ++i) {
      report.outcomes.push_back(outcomes_[i].value_or(DeviceOutcome{
          devices_[i].label, "not started", "", false, {}, {}, 0}));
    }
    return report;
  }

  const FleetSetup& setup_;
  const std::vector<PlannedDevice>& devices_;
  const std::size_t width_;
  const std::size_t canaries_;
  std::vector<std::optional<DeviceOutcome>> outcomes_;
  std::vector<Running> running_;
  std::size_t next_ = 0;
  std::size_t canaries_ended_ = 0;
  std::size_t ended_ = 0;  // devices run to their end
  std::size_t failures_ = 0;
  std::optional<UploadGate> gate_;
  const std::chrono::steady_clock::time_point began_;
  bool journal_failed_ = false;
  RunStop stop_ = RunStop::kNone;
  Stopping stopping_ = Stopping::kNo;
  int interrupts_ = 0;
  int termination_status_ = 0;
};

}  // namespace

RunReport RunFleet(const FleetSetup& setup) { return Fleet(setup).Run(); }

int ExitStatus(const RunReport& report) {
  if (report.signal_status != 0) return report.signal_status;
  if (report.stop != RunStop::kNone) return 3;
  const bool all = std::all_of(
      report.outcomes.begin(), report.outcomes.end(),
      [](const DeviceOutcome& outcome) { return outcome.succeeded; });
  return all ? 0 : 1;
}

}  // namespace hj5::cli
